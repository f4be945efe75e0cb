#include "profile/PrivateProfile.h"
#include "profile/PrivateProfileFile.h"

namespace profile {

PrivateProfile& DefaultPrivateProfile() {
    static PrivateProfileFile files;
    return files;
}

}  // namespace profile
