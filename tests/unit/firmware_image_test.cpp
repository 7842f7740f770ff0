#include "download/firmware_image.hpp"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <future>
#include <span>
#include <string>
#include <vector>

#include "base/hex.hpp"
#include "base/unique_fd.hpp"
#include "download/md5_context.hpp"
#include "support/sample_bytes.hpp"
#include "support/temp_dir.hpp"

namespace korvane {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::RandomBytes;
using testing::TempDir;

constexpr std::uint64_t GIB = std::uint64_t{1} << 30;

Bytes Held(const FirmwareImage& image) {
    return Bytes(image.Data().begin(), image.Data().end());
}

void ExpectEmpty(const FirmwareImage& image) {
    EXPECT_TRUE(image.Empty());
    EXPECT_TRUE(image.Data().empty());
    EXPECT_EQ(image.Data().data(), nullptr);
    EXPECT_EQ(image.Length(), 0u);
}

void MakeSparseFile(const std::filesystem::path& path, std::uint64_t size) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    ASSERT_TRUE(fd) << path;
    ASSERT_EQ(::ftruncate(fd.Get(), static_cast<off_t>(size)), 0);
}

TEST(FirmwareImage, EmptyFileLoadsAsAnEmptyImageWithAnAllZeroDigest) {
    TempDir dir;
    FirmwareImage image;
    ASSERT_EQ(image.Load(dir.WriteFile("empty.zip", {})), LoadStatus::Loaded);
    ExpectEmpty(image);
    // Not the MD5 of empty input (d41d8cd9...): nothing was digested.
    EXPECT_EQ(image.Digest(), Digest{});
}

TEST(FirmwareImage, OneByteFile) {
    TempDir dir;
    FirmwareImage image;
    ASSERT_EQ(image.Load(dir.WriteFile("a.bin", Bytes{'a'})), LoadStatus::Loaded);
    EXPECT_FALSE(image.Empty());
    EXPECT_EQ(image.Length(), 1u);
    EXPECT_EQ(Held(image), Bytes{'a'});
    EXPECT_EQ(ToHex(image.Digest()), "0cc175b9c0f1b6a831c399e269772661");
}

// Sizes around the MD5 padding boundaries, the slices the file is read in
// and the size from which it is read ahead on a second thread.
TEST(FirmwareImage, HoldsTheFileAndItsDigestAtEverySize) {
    TempDir dir;
    constexpr std::size_t KIB = 1024;
    for (const std::size_t size : {std::size_t{55}, std::size_t{56}, std::size_t{63},
                                   std::size_t{64}, std::size_t{65}, 256 * KIB - 1, 256 * KIB,
                                   256 * KIB + 1, 4096 * KIB - 1, 4096 * KIB, 5 * 1024 * KIB + 3}) {
        SCOPED_TRACE(size);
        const Bytes content = RandomBytes(size, size);
        FirmwareImage image;
        ASSERT_EQ(image.Load(dir.WriteFile("image.zip", content)), LoadStatus::Loaded);
        EXPECT_EQ(image.Length(), size);
        EXPECT_TRUE(Held(image) == content);
        EXPECT_EQ(ToHex(image.Digest()), ToHex(Md5Context::Of(content)));
    }
}

TEST(FirmwareImage, ReloadReplacesTheContents) {
    TempDir dir;
    const Bytes big = RandomBytes(5 * 1024 * 1024, 7);
    FirmwareImage image;
    ASSERT_EQ(image.Load(dir.WriteFile("big.zip", big)), LoadStatus::Loaded);
    ASSERT_EQ(image.Length(), big.size());

    ASSERT_EQ(image.Load(dir.WriteFile("abc.zip", Bytes{'a', 'b', 'c'})), LoadStatus::Loaded);
    EXPECT_EQ(image.Length(), 3u);
    EXPECT_EQ(Held(image), (Bytes{'a', 'b', 'c'}));
    EXPECT_EQ(ToHex(image.Digest()), "900150983cd24fb0d6963f7d28e17f72");

    // A failed load leaves nothing of the previous file behind.
    EXPECT_EQ(image.Load(dir.Path() / "missing.zip"), LoadStatus::NotFound);
    ExpectEmpty(image);
    EXPECT_EQ(image.Digest(), Digest{});
}

TEST(FirmwareImage, MissingFileIsNotFound) {
    TempDir dir;
    const auto file = dir.WriteFile("file.zip", Bytes{1, 2, 3});
    FirmwareImage image;
    EXPECT_EQ(image.Load(dir.Path() / "missing.zip"), LoadStatus::NotFound);
    ExpectEmpty(image);
    // A path through a file as if it were a folder.
    EXPECT_EQ(image.Load(file / "inside.zip"), LoadStatus::NotFound);
    ExpectEmpty(image);
}

TEST(FirmwareImage, FolderIsUnreadable) {
    TempDir dir;
    FirmwareImage image;
    EXPECT_EQ(image.Load(dir.Path()), LoadStatus::Unreadable);
    ExpectEmpty(image);
}

// A FIFO is no firmware file, and opening one for reading would wait for a
// writer that never comes.
TEST(FirmwareImage, FifoIsUnreadableAtOnce) {
    TempDir dir;
    const auto fifo = dir.Path() / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    FirmwareImage image;
    auto loading = std::async(std::launch::async, [&] { return image.Load(fifo); });
    if (loading.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        // Let the stuck open go before failing.
        UniqueFd writer(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
        loading.wait();
        FAIL() << "Load waited for a writer to the FIFO";
    }
    EXPECT_EQ(loading.get(), LoadStatus::Unreadable);
    ExpectEmpty(image);
}

// Root reads any file whatever its mode, so as root the load runs in a child
// that has given root up; the child reports the status and whether the image
// was empty in its exit code.
struct Outcome {
    LoadStatus status;
    bool empty;
};

Outcome LoadAsUnprivilegedUser(const std::filesystem::path& path) {
    if (::geteuid() != 0) {
        FirmwareImage image;
        const LoadStatus status = image.Load(path);
        return {status, image.Empty()};
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        constexpr uid_t NOBODY = 65534;
        if (::setgroups(0, nullptr) != 0 || ::setresgid(NOBODY, NOBODY, NOBODY) != 0 ||
            ::setresuid(NOBODY, NOBODY, NOBODY) != 0) {
            ::_exit(100);
        }
        FirmwareImage image;
        const LoadStatus status = image.Load(path);
        ::_exit(static_cast<int>(status) * 2 + (image.Empty() ? 1 : 0));
    }
    int raw = 0;
    EXPECT_EQ(::waitpid(pid, &raw, 0), pid);
    EXPECT_TRUE(WIFEXITED(raw));
    const int code = WEXITSTATUS(raw);
    EXPECT_NE(code, 100) << "could not give up root";
    return {static_cast<LoadStatus>(code / 2), code % 2 == 1};
}

TEST(FirmwareImage, FileWithoutReadPermissionIsUnreadable) {
    TempDir dir;
    // The folder lets anybody through; the file lets nobody read it.
    std::filesystem::permissions(dir.Path(), std::filesystem::perms::others_exec,
                                 std::filesystem::perm_options::add);
    const auto file = dir.WriteFile("locked.zip", Bytes{1, 2, 3});
    std::filesystem::permissions(file, std::filesystem::perms::none);
    const Outcome outcome = LoadAsUnprivilegedUser(file);
    EXPECT_EQ(outcome.status, LoadStatus::Unreadable);
    EXPECT_TRUE(outcome.empty);
}

// The header carries the length in 32 bits. The files are sparse: they cost
// no disk and are refused before anything is read.
TEST(FirmwareImage, FilesOf4GiBOrMoreAreTooLarge) {
    TempDir dir;
    for (const std::uint64_t size : {4 * GIB, 4 * GIB + 1, 6 * GIB}) {
        SCOPED_TRACE(size);
        const auto file = dir.Path() / "huge.zip";
        MakeSparseFile(file, size);
        FirmwareImage image;
        EXPECT_EQ(image.Load(file), LoadStatus::TooLarge);
        ExpectEmpty(image);
        EXPECT_EQ(image.Digest(), Digest{});
    }
}

TEST(FirmwareImage, AllocateRefusesALengthOfZero) {
    FirmwareImage image;
    EXPECT_FALSE(image.Allocate());
    ExpectEmpty(image);
}

TEST(FirmwareImage, ComputeDigestOfNothingKeepsTheDigest) {
    FirmwareImage image;
    const Bytes abc{'a', 'b', 'c'};
    ASSERT_TRUE(image.ComputeDigest(abc));
    EXPECT_EQ(ToHex(image.Digest()), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_FALSE(image.ComputeDigest({}));
    EXPECT_EQ(ToHex(image.Digest()), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(FirmwareImage, ReleaseEmptiesTheImageAndKeepsTheDigest) {
    TempDir dir;
    FirmwareImage image;
    ASSERT_EQ(image.Load(dir.WriteFile("abc.zip", Bytes{'a', 'b', 'c'})), LoadStatus::Loaded);
    image.Release();
    ExpectEmpty(image);
    EXPECT_EQ(ToHex(image.Digest()), "900150983cd24fb0d6963f7d28e17f72");
}

}  // namespace
}  // namespace korvane
