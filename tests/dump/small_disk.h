// A small disk for the tests of full disks (Linux, as root: CI runs so).
#pragma once

#include <fcntl.h>
#include <filesystem>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <unistd.h>

namespace veldar::test {

// A 64 KiB tmpfs in a mount namespace of this test's own, gone with the process.
class SmallDisk {
public:
    explicit SmallDisk(const std::filesystem::path& at) : at_(at) {
        std::filesystem::create_directories(at);
        mounted_ = ::unshare(CLONE_NEWNS) == 0 &&
                   ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                   ::mount("tmpfs", at.c_str(), "tmpfs", 0, "size=64k") == 0;
    }
    ~SmallDisk() {
        if (mounted_) ::umount2(at_.c_str(), MNT_DETACH);
    }
    bool Mounted() const { return mounted_; }

    // Fills what is left with a file of its own.
    void Fill() const {
        std::string block(4096, 'f');
        int fd = ::open((at_ / "filler").c_str(), O_WRONLY | O_CREAT, 0600);
        while (::write(fd, block.data(), block.size()) > 0) {
        }
        ::close(fd);
    }
    // Frees room for that many bytes again (whole pages of 4096).
    void Free(long bytes) const {
        const auto filler = at_ / "filler";
        std::filesystem::resize_file(filler, std::filesystem::file_size(filler) -
                                                 static_cast<std::uintmax_t>(bytes));
    }

private:
    std::filesystem::path at_;
    bool mounted_ = false;
};

} // namespace veldar::test
