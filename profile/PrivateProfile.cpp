#include "profile/PrivateProfile.h"

#include "profile/PrivateProfileFile.h"

namespace profile {
namespace {

PrivateProfile* chosen = nullptr;

PrivateProfile& FileDefault() {
    static PrivateProfileFile files;
    return files;
}

}  // namespace

void SetPrivateProfile(PrivateProfile* platform) { chosen = platform; }

PrivateProfile& Platform() { return chosen ? *chosen : FileDefault(); }

}  // namespace profile
