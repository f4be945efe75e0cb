#include "profile/PrivateProfile.h"

namespace profile {
namespace {

PrivateProfile* chosen = nullptr;

}  // namespace

void SetPrivateProfile(PrivateProfile* platform) { chosen = platform; }

PrivateProfile& Platform() { return chosen ? *chosen : DefaultPrivateProfile(); }

}  // namespace profile
