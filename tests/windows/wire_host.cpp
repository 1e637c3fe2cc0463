// The filter module's side of a filter run between two Windows processes. Creates the six
// channels through Boost's own Windows emulation, owner-only (checked on disk), fills them,
// holds each lock with Boost's spin_recursive_mutex constructed in place (as a real module
// does), starts wire_app.exe with CreateProcess and checks every byte handed back.
// Usage: wire_host.exe PATH_OF_wire_app.exe
#include "ChannelInfo.h"
#include "HostPermissions.h"
#include "IPCParams.h"
#include "WireSample.h"

#include <boost/interprocess/detail/shared_dir_helpers.hpp>
#include <boost/interprocess/mapped_region.hpp>
#include <boost/interprocess/shared_memory_object.hpp>
#include <boost/interprocess/sync/spin/recursive_mutex.hpp>

#include <windows.h>
#include <aclapi.h>

#include <cstdio>
#include <exception>
#include <memory>
#include <new>
#include <string>

namespace bip = boost::interprocess;
using namespace WireSample;
using Lock = bip::ipcdetail::spin_recursive_mutex;

namespace {

int failures = 0;

void check(bool ok, const std::string &what)
{
    if (!ok) {
        std::printf("FAIL wire protocol: %s\n", what.c_str());
        ++failures;
    }
}

struct HostSide
{
    bip::shared_memory_object info;
    bip::shared_memory_object data;
    bip::mapped_region infoRegion;
    bip::mapped_region dataRegion;
    ChannelInfo *words = nullptr;
    Lock *lock = nullptr;
    unsigned char *payload = nullptr;

    HostSide(const std::string &name, uint64_t payloadSize, uint64_t claimedSize, const bip::permissions &perm)
        : info(bip::create_only, (name + "Info").c_str(), bip::read_write, perm)
        , data(bip::create_only, name.c_str(), bip::read_write, perm)
    {
        info.truncate(64);
        data.truncate(static_cast<bip::offset_t>(payloadSize + 16));
        infoRegion = bip::mapped_region(info, bip::read_write);
        dataRegion = bip::mapped_region(data, bip::read_write);
        words = static_cast<ChannelInfo *>(infoRegion.get_address());
        payload = static_cast<unsigned char *>(dataRegion.get_address());
        words->dataSize = claimedSize;
        lock = new (reinterpret_cast<char *>(words) + 8) Lock;
        std::memset(payload + payloadSize, 0x08, 16);
    }
};

bool objectGone(const std::string &name)
{
    try {
        bip::shared_memory_object object(bip::open_only, name.c_str(), bip::read_only);
        return false;
    } catch (const std::exception &) {
        return true;
    }
}

// Boost keeps the object as a file in its shared folder; its access list must name no one but
// the current user (Wine adds LocalSystem when it maps the list onto the file's mode bits).
bool ownerOnlyOnDisk(const std::string &name)
{
    std::string path;
    bip::ipcdetail::get_shared_dir(path);
    PACL acl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoA((path + "/" + name).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                              &acl, nullptr, &descriptor) != ERROR_SUCCESS || !acl)
        return false;
    HANDLE token = nullptr;
    unsigned char user[256];
    DWORD size = sizeof(user);
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    GetTokenInformation(token, TokenUser, user, size, &size);
    CloseHandle(token);
    unsigned char system[SECURITY_MAX_SID_SIZE];
    size = sizeof(system);
    CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &size);
    int users = 0;
    int others = 0;
    for (DWORD i = 0; i < acl->AceCount; ++i) {
        void *ace = nullptr;
        GetAce(acl, i, &ace);
        PSID sid = &static_cast<ACCESS_ALLOWED_ACE *>(ace)->SidStart;
        const bool isUser = EqualSid(sid, reinterpret_cast<TOKEN_USER *>(user)->User.Sid);
        users += isUser;
        others += !isUser && !EqualSid(sid, system);
    }
    LocalFree(descriptor);
    return users > 0 && others == 0;
}

void removeObjects(int c)
{
    bip::shared_memory_object::remove(ChannelNames[c]);
    bip::shared_memory_object::remove((std::string(ChannelNames[c]) + "Info").c_str());
}

void fill(const std::unique_ptr<HostSide> channels[6])
{
    auto *record = reinterpret_cast<IPCParams *>(channels[Param]->payload);
    record->runMode = 1;
    record->status = 0xEE;
    std::strcpy(record->hostProcessName, "Photoshop.exe");
    std::memcpy(record->hostSignature, "MIB8", 4);
    record->width = Width;
    record->height = Height;
    record->rowBytes = RowBytes;
    record->hasMask = 1;
    record->iccProfileSize = static_cast<int32_t>(ProfileBytes);
    for (int k = 0; k < 4; ++k) {
        unsigned char *plane = channels[Plane0 + k]->payload;
        std::memset(plane, SpareByte, PlaneBytes);
        for (uint32_t y = 0; y < Height; ++y)
            for (uint32_t x = 0; x < Width; ++x)
                *sampleAt(plane, y, x) = hostSample(k, y, x);
    }
    std::memcpy(channels[Icc]->payload, Profile, ProfileBytes);
}

void checkReturned(const std::unique_ptr<HostSide> channels[6])
{
    const auto *record = reinterpret_cast<const IPCParams *>(channels[Param]->payload);
    check(record->status == StatusImageSaved, "status is " + std::to_string(record->status) + ", not 0");
    check(record->errorMessage[0] == 0, std::string("error message: ") + record->errorMessage);
    for (int k = 0; k < 4; ++k) {
        HostSide &side = *channels[Plane0 + k];
        for (uint32_t y = 0; y < Height; ++y) {
            for (uint32_t x = 0; x < RowBytes; ++x) {
                const unsigned char got = side.payload[y * RowBytes + x];
                const uint16_t sample = appSample(k, y, x / 2);
                const unsigned char want = x >= Width * 2 ? SpareByte
                                                          : static_cast<unsigned char>(x % 2 ? sample >> 8 : sample);
                check(got == want, "plane " + std::to_string(k) + " byte " + std::to_string(y * RowBytes + x));
            }
        }
        for (int g = 0; g < 16; ++g)
            check(side.payload[PlaneBytes + g] == 0x08, "guard of plane " + std::to_string(k));
    }
    for (int c = Param; c <= Mask; ++c) {
        const ChannelInfo &w = *channels[c]->words;
        check(w.lockWord == 0 && w.lockCount == 0 && w.lockOwner == ChannelInfo::NoOwner,
              std::string(ChannelNames[c]) + " lock words not free");
        check(channels[c]->lock->try_lock(), std::string(ChannelNames[c]) + ": Boost cannot take the freed lock");
    }
    const std::string icc = ChannelNames[Icc];
    check(objectGone(icc) && objectGone(icc + "Info"), "the ICC channel's objects are still there");
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2)
        return 4;
    bip::permissions ownerOnly;
    std::string error;
    check(HostPermissions::ownerOnly(ownerOnly, error), "owner-only permissions: " + error);
    const uint64_t sizes[6] = {sizeof(IPCParams), PlaneBytes, PlaneBytes, PlaneBytes, PlaneBytes, ProfileBytes};
    std::unique_ptr<HostSide> channels[6];
    // A channel that cannot be made ends the program with its exception's text.
    for (int c = 0; c < 6; ++c) {
        removeObjects(c);
        const uint64_t claimed = c == Icc ? IccChannelDataSize : sizes[c];
        channels[c] = std::make_unique<HostSide>(ChannelNames[c], sizes[c], claimed, ownerOnly);
    }
    check(ownerOnlyOnDisk(ChannelNames[Param]), "the record's object is not the current user's alone");
    fill(channels);
    for (int c = Param; c <= Mask; ++c)
        channels[c]->lock->lock();
    const ChannelInfo &paramWords = *channels[Param]->words;
    check(paramWords.lockWord == 1 && paramWords.lockCount == 1 && paramWords.lockOwner == GetCurrentThreadId(),
          "Boost's lock words are not at offsets 8, 12 and 16 with the Windows thread id");

    std::string commandLine = "\"" + std::string(argv[1]) + "\" Orvane_Lumivex_PS_Plugin";
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(argv[1], &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        std::printf("FAIL wire protocol: CreateProcess error %lu\n", GetLastError());
        return 1;
    }
    // Everything is final: hand the record over first, then the image, as a module does.
    for (int c = Param; c <= Mask; ++c)
        channels[c]->lock->unlock();
    DWORD exitCode = 0;
    check(WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0, "the application did not end within 60 s");
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    check(exitCode == 0, "the application ended with " + std::to_string(exitCode));
    checkReturned(channels);

    for (int c = 0; c < 6; ++c)
        removeObjects(c);
    if (failures == 0)
        std::printf("PASS wire protocol: six channels, locks, guards, %u planes and ICC between two processes\n", 4u);
    return failures == 0 ? 0 : 1;
}
