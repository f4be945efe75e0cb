// Asks an nvapi.dll for NvAPI's functions the way NVIDIA documents them, with the interface IDs
// given on the command line, and calls what it gets. One answer line per command:
//
//   nvapi_probe DLL COMMAND...
//     query ID                     "query ID found" or "query ID null"
//     initialize ID                "initialize STATUS"
//     enum ID                      "enum STATUS COUNT"; the handles are kept for the commands below
//     name ID GPU                  "name STATUS TEXT"
//     pci ID GPU                   "pci STATUS DEVICE SUBSYSTEM REVISION EXTDEVICE" (hexadecimal)
//     vbios ID GPU                 "vbios STATUS TEXT"
//     bus ID GPU, slot ID GPU      "bus STATUS VALUE", "slot STATUS VALUE" (hexadecimal)
//     read ID GPU DEV REG LEN      "read STATUS BYTES" (one-byte register, port 1)
//     write ID GPU DEV REG BYTE... "write STATUS"
//     layout                       "layout SIZE VERSION" and the offsets of pbI2cRegAddress, pbData,
//                                  portId and bIsPortIdSet (decimal, the version hexadecimal)
//
// IDs and numbers are hexadecimal, GPU the position in the enumeration. The declarations below
// are written from NVIDIA's published interface, not taken from the program.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Handle = void*;
using Status = std::int32_t;

struct I2cInfoV3 {
    std::uint32_t version;
    std::uint32_t displayMask;
    std::uint8_t bIsDDCPort;
    std::uint8_t i2cDevAddress;
    std::uint8_t* pbI2cRegAddress;
    std::uint32_t regAddrSize;
    std::uint8_t* pbData;
    std::uint32_t cbSize;
    std::uint32_t i2cSpeed;
    std::uint32_t i2cSpeedKhz;
    std::uint8_t portId;
    std::uint32_t bIsPortIdSet;
};
#ifdef _WIN64
static_assert(sizeof(I2cInfoV3) == 64 && offsetof(I2cInfoV3, pbI2cRegAddress) == 16 &&
                  offsetof(I2cInfoV3, pbData) == 32 && offsetof(I2cInfoV3, portId) == 52 &&
                  offsetof(I2cInfoV3, bIsPortIdSet) == 56,
              "the 64-bit layout of NV_I2C_INFO_V3");
#else
static_assert(sizeof(I2cInfoV3) == 44, "the 32-bit layout of NV_I2C_INFO_V3");
#endif

using QueryInterface = void*(__cdecl*)(std::uint32_t);
using Initialize = Status(__cdecl*)();
using EnumPhysicalGpus = Status(__cdecl*)(Handle*, std::uint32_t*);
using Text64 = Status(__cdecl*)(Handle, char*);
using PciIdentifiers = Status(__cdecl*)(Handle, std::uint32_t*, std::uint32_t*, std::uint32_t*, std::uint32_t*);
using I2c = Status(__cdecl*)(Handle, I2cInfoV3*, std::uint32_t*);
using Number = Status(__cdecl*)(Handle, std::uint32_t*);

std::uint32_t Hex(const wchar_t* text) { return static_cast<std::uint32_t>(std::wcstoul(text, nullptr, 16)); }

// NvAPI hands out function addresses as data pointers.
template <typename Fn, typename From>
Fn As(From address) {
    Fn function = nullptr;
    static_assert(sizeof function == sizeof address, "function and data pointers differ in size");
    std::memcpy(&function, &address, sizeof function);
    return function;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    const HMODULE dll = LoadLibraryW(argv[1]);
    if (!dll) {
        std::printf("load failed %lu\n", GetLastError());
        return 1;
    }
    const auto query = As<QueryInterface>(GetProcAddress(dll, "nvapi_QueryInterface"));
    if (!query) {
        std::printf("no nvapi_QueryInterface\n");
        return 1;
    }
    Handle handles[64] = {};
    std::uint32_t count = 0;
    auto gpu = [&](const wchar_t* text) { return handles[std::wcstoul(text, nullptr, 16) % 64]; };

    for (int i = 2; i < argc; ++i) {
        const std::wstring command = argv[i];
        if (command == L"layout") {
            std::printf("layout %u %X %u %u %u %u\n", static_cast<unsigned>(sizeof(I2cInfoV3)),
                        static_cast<unsigned>((3u << 16) | sizeof(I2cInfoV3)),
                        static_cast<unsigned>(offsetof(I2cInfoV3, pbI2cRegAddress)),
                        static_cast<unsigned>(offsetof(I2cInfoV3, pbData)),
                        static_cast<unsigned>(offsetof(I2cInfoV3, portId)),
                        static_cast<unsigned>(offsetof(I2cInfoV3, bIsPortIdSet)));
            continue;
        }
        if (i + 1 >= argc) return 2;
        const std::uint32_t id = Hex(argv[++i]);
        void* function = query(id);
        if (command == L"query") {
            std::printf("query %08X %s\n", id, function ? "found" : "null");
            continue;
        }
        if (!function) {
            std::printf("%ls null\n", command.c_str());
            continue;
        }
        if (command == L"initialize") {
            std::printf("initialize %d\n", As<Initialize>(function)());
        } else if (command == L"enum") {
            const Status status = As<EnumPhysicalGpus>(function)(handles, &count);
            std::printf("enum %d %u\n", status, count);
        } else if (command == L"name" || command == L"vbios") {
            char text[64] = {};
            const Status status = As<Text64>(function)(gpu(argv[++i]), text);
            text[63] = '\0';
            std::printf("%ls %d %s\n", command.c_str(), status, text);
        } else if (command == L"pci") {
            std::uint32_t device = 0, subsystem = 0, revision = 0, extDevice = 0;
            const Status status = As<PciIdentifiers>(function)(gpu(argv[++i]), &device, &subsystem, &revision, &extDevice);
            std::printf("pci %d %08X %08X %X %08X\n", status, device, subsystem, revision, extDevice);
        } else if (command == L"bus" || command == L"slot") {
            std::uint32_t value = 0xFFFFFFFF;
            const Status status = As<Number>(function)(gpu(argv[++i]), &value);
            std::printf("%ls %d %X\n", command.c_str(), status, value);
        } else if (command == L"read" || command == L"write") {
            if (i + 4 >= argc) return 2;
            const Handle handle = gpu(argv[++i]);
            I2cInfoV3 info = {};
            std::uint8_t reg = static_cast<std::uint8_t>(Hex(argv[i + 2]));
            std::vector<std::uint8_t> data;
            info.i2cDevAddress = static_cast<std::uint8_t>(Hex(argv[++i]));
            ++i;
            if (command == L"read") {
                data.assign(Hex(argv[++i]), 0);
            } else {
                while (i + 1 < argc && std::wstring(argv[i + 1]).size() <= 2) data.push_back(static_cast<std::uint8_t>(Hex(argv[++i])));
            }
            info.version = (3u << 16) | sizeof(I2cInfoV3);
            info.pbI2cRegAddress = &reg;
            info.regAddrSize = 1;
            info.pbData = data.data();
            info.cbSize = static_cast<std::uint32_t>(data.size());
            info.i2cSpeed = 0xFFFF;
            info.portId = 1;
            info.bIsPortIdSet = 1;
            std::uint32_t unknown = 0;
            const Status status = As<I2c>(function)(handle, &info, &unknown);
            std::printf("%ls %d", command.c_str(), status);
            if (command == L"read")
                for (std::uint8_t b : data) std::printf(" %02X", b);
            std::printf("\n");
        } else {
            return 2;
        }
    }
    return 0;
}
