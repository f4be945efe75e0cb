# The folders' dependencies, held to one table: every #include "folder/..." of every source file
# under the core and platform folders must name the file's own folder or one the table allows it,
# the table has no cycle, and no core folder includes <windows.h> or a Qt header.
# Run with cmake -DSOURCE_ROOT=<source root> -P IncludeCheck.cmake.

# folder: the folders it may include from. Keep the README's layout table in step.
set(core_folders
  "gpu:"
  "profile:"
  "res:"
  "sim: gpu"
  "dialog: res"
  "headless: dialog res"
  "boards: dialog gpu profile res"
  "diag: dialog gpu res"
  "app: boards diag dialog gpu headless profile res")
set(platform_folders
  "platform/linux: gpu"
  "platform/qt: app dialog gpu platform/linux sim"
  "platform/win32: app dialog gpu profile sim")
# Folders with sources that are neither: they may use everything above.
set(other_folders bench build cmake scripts tests tools)

cmake_minimum_required(VERSION 3.25)

if(NOT SOURCE_ROOT)
  message(FATAL_ERROR "IncludeCheck.cmake needs -DSOURCE_ROOT=")
endif()

set(folders "")
set(core "")
foreach(row IN LISTS core_folders platform_folders)
  string(REGEX MATCH "^([^:]+):(.*)$" _ "${row}")
  set(folder "${CMAKE_MATCH_1}")
  string(STRIP "${CMAKE_MATCH_2}" uses)
  separate_arguments(uses UNIX_COMMAND "${uses}")
  list(APPEND folders ${folder})
  set(allowed_${folder} ${uses})
  if(row IN_LIST core_folders)
    list(APPEND core ${folder})
  endif()
endforeach()

set(offences "")

# The table itself: only folders it knows, and no cycle. Folders whose allowed folders are all
# placed are placed, round by round; whatever is left over lies on a cycle or uses one.
foreach(folder IN LISTS folders)
  foreach(use IN LISTS allowed_${folder})
    if(NOT use IN_LIST folders)
      list(APPEND offences "table: ${folder} may use ${use}, which is not in the table")
    endif()
  endforeach()
endforeach()
set(left ${folders})
set(placed "")
while(left)
  set(progress "")
  foreach(folder IN LISTS left)
    set(ready TRUE)
    foreach(use IN LISTS allowed_${folder})
      if(NOT use IN_LIST placed AND use IN_LIST folders)
        set(ready FALSE)
      endif()
    endforeach()
    if(ready)
      list(APPEND progress ${folder})
    endif()
  endforeach()
  if(NOT progress)
    # Folders that only use the cycle are not on it: drop those no other leftover folder uses.
    set(pruned TRUE)
    while(pruned)
      set(pruned FALSE)
      foreach(folder IN LISTS left)
        set(used FALSE)
        foreach(other IN LISTS left)
          if(folder IN_LIST allowed_${other})
            set(used TRUE)
          endif()
        endforeach()
        if(NOT used)
          list(REMOVE_ITEM left ${folder})
          set(pruned TRUE)
        endif()
      endforeach()
    endwhile()
    set(rows "")
    foreach(folder IN LISTS left)
      list(JOIN allowed_${folder} " " uses)
      list(APPEND rows "${folder} -> ${uses}")
    endforeach()
    list(JOIN rows ", " rows)
    list(APPEND offences "table: a cycle among these folders: ${rows}")
    break()
  endif()
  list(APPEND placed ${progress})
  list(REMOVE_ITEM left ${progress})
endwhile()

# Every top-level folder with sources is in the table or among the others, so a new folder is
# placed on purpose.
file(GLOB entries RELATIVE "${SOURCE_ROOT}" "${SOURCE_ROOT}/*")
foreach(entry IN LISTS entries)
  if(IS_DIRECTORY "${SOURCE_ROOT}/${entry}" AND NOT entry MATCHES "^\\." AND NOT entry IN_LIST other_folders)
    if(entry STREQUAL "platform")
      file(GLOB entries_below RELATIVE "${SOURCE_ROOT}" "${SOURCE_ROOT}/platform/*")
    else()
      set(entries_below ${entry})
    endif()
    foreach(folder IN LISTS entries_below)
      file(GLOB_RECURSE found "${SOURCE_ROOT}/${folder}/*.h" "${SOURCE_ROOT}/${folder}/*.cpp")
      if(found AND NOT folder IN_LIST folders)
        list(APPEND offences "${folder}/ holds sources but is not in the table")
      endif()
    endforeach()
  endif()
endforeach()

# The includes.
set(file_count 0)
foreach(folder IN LISTS folders)
  file(GLOB_RECURSE sources "${SOURCE_ROOT}/${folder}/*.h" "${SOURCE_ROOT}/${folder}/*.hpp"
                            "${SOURCE_ROOT}/${folder}/*.cpp" "${SOURCE_ROOT}/${folder}/*.c")
  if(NOT sources)
    list(APPEND offences "table: ${folder}/ holds no sources")
  endif()
  list(LENGTH sources count)
  math(EXPR file_count "${file_count} + ${count}")
  foreach(source IN LISTS sources)
    file(RELATIVE_PATH name "${SOURCE_ROOT}" "${source}")
    file(STRINGS "${source}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
    foreach(line IN LISTS lines)
      string(STRIP "${line}" line)
      if(line MATCHES "\"([^\"]*)\"")
        set(path "${CMAKE_MATCH_1}")
        if(NOT path MATCHES "/")
          continue()  # beside the including file
        endif()
        set(target "")
        foreach(candidate IN LISTS folders)
          string(LENGTH "${candidate}/" length)
          string(SUBSTRING "${path}" 0 ${length} head)
          if(head STREQUAL "${candidate}/")
            set(target ${candidate})
          endif()
        endforeach()
        if(NOT target)
          list(APPEND offences "${name}: ${line}: not a folder of the table")
        elseif(NOT target STREQUAL folder AND NOT target IN_LIST allowed_${folder})
          list(APPEND offences "${name}: ${line}: ${folder}/ may not use ${target}/")
        endif()
      elseif(folder IN_LIST core AND line MATCHES "<([^>]*)>")
        set(header "${CMAKE_MATCH_1}")
        string(TOLOWER "${header}" lower)
        if(lower STREQUAL "windows.h" OR header MATCHES "^Qt[A-Za-z]*/" OR header MATCHES "^Q[A-Z][A-Za-z]*$")
          list(APPEND offences "${name}: ${line}: a core folder includes a platform header")
        endif()
      endif()
    endforeach()
  endforeach()
endforeach()

if(offences)
  list(JOIN offences "\n" text)
  message(FATAL_ERROR "folder dependencies broken:\n${text}")
endif()
list(LENGTH folders folder_count)
message(STATUS "${file_count} files in ${folder_count} folders keep to the table; the table has no cycle")
