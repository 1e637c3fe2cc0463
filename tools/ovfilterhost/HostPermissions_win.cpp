#include "HostPermissions.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <vector>

namespace HostPermissions {

namespace {

// Boost keeps only a pointer to the security attributes, so the descriptor, its access list and
// the user's SID are built once and kept for the life of the process.
struct OwnerOnlyDescriptor
{
    std::vector<unsigned char> tokenUser;
    std::vector<DWORD> acl; // DWORD elements keep the list aligned as Windows requires
    SECURITY_DESCRIPTOR descriptor{};
    SECURITY_ATTRIBUTES attributes{};
    std::string failure;

    OwnerOnlyDescriptor()
    {
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
            failure = "OpenProcessToken failed, error " + std::to_string(GetLastError());
            return;
        }
        DWORD size = 0;
        GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        tokenUser.resize(size);
        const BOOL haveUser = size != 0 && GetTokenInformation(token, TokenUser, tokenUser.data(), size, &size);
        const DWORD userError = GetLastError();
        CloseHandle(token);
        if (!haveUser) {
            failure = "GetTokenInformation failed, error " + std::to_string(userError);
            return;
        }
        PSID user = reinterpret_cast<TOKEN_USER *>(tokenUser.data())->User.Sid;
        const DWORD aclSize = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(user);
        acl.resize(aclSize / sizeof(DWORD) + 1);
        auto *list = reinterpret_cast<PACL>(acl.data());
        if (!InitializeAcl(list, aclSize, ACL_REVISION) || !AddAccessAllowedAce(list, ACL_REVISION, GENERIC_ALL, user)
            || !InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION)
            || !SetSecurityDescriptorOwner(&descriptor, user, FALSE)
            || !SetSecurityDescriptorDacl(&descriptor, TRUE, list, FALSE)) {
            failure = "building the access list failed, error " + std::to_string(GetLastError());
            return;
        }
        attributes.nLength = sizeof(attributes);
        attributes.lpSecurityDescriptor = &descriptor;
        attributes.bInheritHandle = FALSE;
    }
};

} // namespace

bool ownerOnly(boost::interprocess::permissions &permissions, std::string &error)
{
    static const OwnerOnlyDescriptor owner;
    if (!owner.failure.empty()) {
        error = owner.failure;
        return false;
    }
    permissions.set_permissions(const_cast<SECURITY_ATTRIBUTES *>(&owner.attributes));
    return true;
}

} // namespace HostPermissions
