#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "File_Utils.h"
#include "Subprocess.h"
#include "TempDir.h"
#include "system_test_log.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

TEST(FileTests, ExistsDirectoryFileSizeAndReadAt) {
    TempDir dir;
    const std::string file = dir / "digits";
    ASSERT_TRUE(WriteFile(file, "0123456789"));
    ASSERT_EQ(0, symlink(file.c_str(), (dir / "link").c_str()));
    ASSERT_EQ(0, symlink((dir / "missing").c_str(), (dir / "dangling").c_str()));
    EXPECT_TRUE(FileExists(dir.path().c_str(), "digits") && IsFile((dir / "link").c_str()));
    EXPECT_FALSE(FileExists(nullptr) || FileExists((dir / "dangling").c_str()));
    EXPECT_TRUE(IsDirectory(dir.path().c_str()) && !IsDirectory(file.c_str()) && !IsFile(dir.path().c_str()));
    EXPECT_EQ(10u, FileSize(file.c_str()));
    EXPECT_EQ(file.size(), FileSize((dir / "link").c_str()));  // the link itself, not its target
    EXPECT_EQ(0u, FileSize((dir / "nothing").c_str()));

    // ReadAt: negative offsets count from the end, count 0 reads all, the position stays.
    int fd = open(file.c_str(), O_RDONLY);
    ASSERT_EQ(3, lseek(fd, 3, SEEK_SET));
    const struct {
        int64_t offset;
        size_t count;
        const char* read;
    } cases[] = {{5, 3, "567"}, {-4, 4, "6789"}, {0, 0, "0123456789"}, {8, 10, "89"}};
    char buffer[32] = {};
    size_t got = 99;
    for (const auto& c : cases) {
        EXPECT_TRUE(ReadAt(fd, buffer, c.offset, c.count, &got)) << c.offset;
        EXPECT_EQ(c.read, std::string(buffer, got));
    }
    EXPECT_FALSE(ReadAt(fd, buffer, -11, 1, &got));  // before the start
    EXPECT_EQ(3, lseek(fd, 0, SEEK_CUR));
    close(fd);
    EXPECT_FALSE(ReadAt(-1, buffer, 0, 1, &got));
}

TEST(FileTests, ZipMagic) {
    TempDir dir;
    const struct {
        const char* name;
        std::string content;
        bool zip;
    } cases[] = {{"empty", "", false},
                 {"one", "P", false},
                 {"other", "MZ\x90", false},
                 {"pk", "PK", true},
                 {"pkjunk", std::string("PK\0\0junk", 8), true},
                 {"lower", "pk\3\4", false}};
    for (const auto& c : cases) {
        ASSERT_TRUE(WriteFile(dir / c.name, c.content));
        EXPECT_EQ(c.zip, IsZipFile((dir / c.name).c_str())) << c.name;
    }
    EXPECT_FALSE(IsZipFile((dir / "missing").c_str()) || IsZipFile(dir.path().c_str()) || IsZipFile(nullptr));
}

// A real archive made by the zip command holding client and bin/lib.so.
class UnzipTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(0, mkdir((src / "bin").c_str(), 0755));
        ASSERT_TRUE(WriteFile(src / "client", kClient, 0755));
        ASSERT_TRUE(WriteFile(src / "bin/lib.so", std::string(5000, 'L')));
        auto made = testsupport::Run(
            {"sh", "-c", "cd \"$1\" && zip -q -r \"$2\" client bin", "sh", src.path(), archive}, 20000);
        ASSERT_EQ(0, made.exitCode) << made.output;
        ASSERT_EQ(0, chmod(archive.c_str(), 0600));
    }
    void ExpectUnpacked(const std::string& target) {
        EXPECT_EQ(kClient, ReadFile(target + "/client"));
        EXPECT_EQ(std::string(5000, 'L'), ReadFile(target + "/bin/lib.so"));
    }
    const std::string kClient = "#!/bin/sh\necho new\n";
    PlainLog log;
    TempDir src{"sa-zipsrc"};
    TempDir out{"sa-zipout"};
    std::string archive = out / "RC_1234.zip";
    std::string target = out / "RC_1234";
};

TEST_F(UnzipTest, UnpacksAndThenReplacesWhatIsAlreadyThere) {
    ASSERT_TRUE(Unzip(archive.c_str(), target.c_str()));
    ExpectUnpacked(target);
    struct stat st;
    ASSERT_EQ(0, stat((target + "/client").c_str(), &st));
    EXPECT_TRUE(st.st_mode & S_IXUSR);
    ASSERT_EQ(0, stat(archive.c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 07777) << "the archive must not be opened up to others";

    ASSERT_TRUE(WriteFile(target + "/client", "old old old old old old old\n"));
    ASSERT_TRUE(WriteFile(target + "/bin/lib.so", "old"));
    ASSERT_TRUE(WriteFile(target + "/keep", "mine"));
    ASSERT_TRUE(Unzip(archive.c_str(), target.c_str()));
    ExpectUnpacked(target);
    EXPECT_EQ("mine", ReadFile(target + "/keep"));
    EXPECT_EQ("", log.Text());
}

TEST_F(UnzipTest, PathsWithShellCharactersAreUnpackedNotRun) {
    const std::string odd = out / "it's a $(touch pwned); `touch pwned` & x.zip";
    ASSERT_EQ(0, rename(archive.c_str(), odd.c_str()));
    const std::string oddTarget = out / "target ; touch pwned";
    ASSERT_TRUE(Unzip(odd.c_str(), oddTarget.c_str()));
    ExpectUnpacked(oddTarget);
    EXPECT_FALSE(FileExists(out.path().c_str(), "pwned"));
    EXPECT_FALSE(FileExists("pwned"));
}

TEST_F(UnzipTest, NotAnArchiveOrABrokenOneFails) {
    const std::string fake = out / "fake.zip", missing = out / "missing.zip", broken = out / "broken.zip";
    ASSERT_TRUE(WriteFile(fake, "MZ not a zip"));
    ASSERT_TRUE(WriteFile(broken, std::string("PK\3\4", 4) + std::string(100, '\xff')));
    EXPECT_FALSE(Unzip(fake.c_str(), target.c_str()));
    EXPECT_FALSE(Unzip(missing.c_str(), target.c_str()));
    EXPECT_FALSE(FileExists(target.c_str())) << "nothing is run for a file that is no archive";
    std::string text = log.Text();
    EXPECT_NE(std::string::npos, text.find(" ERROR: " + fake + " is invalid zip file\r\n")) << text;
    EXPECT_NE(std::string::npos, text.find(" ERROR: " + missing + " is invalid zip file\r\n"));
    EXPECT_EQ(std::string::npos, text.find("Unzipping"));

    EXPECT_FALSE(Unzip(broken.c_str(), target.c_str()));
    text = log.Text();
    EXPECT_NE(std::string::npos,
              text.find(" ERROR: Unzipping Failed! " + broken + " into " + target + "\r\n"))
        << text;
}
