#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "File_Utils.h"
#include "Subprocess.h"
#include "TempDir.h"
#include "system_test_log.h"

using testsupport::ReadFile;
using testsupport::Run;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

// A real archive made by the zip command: the files are stored below folder.
void MakeZip(const std::string& archive, const std::string& folder, const std::vector<std::string>& names)
{
    std::vector<std::string> zipArgv = {"sh", "-c", "cd \"$1\" && shift && zip -q -r \"$@\"", "sh", folder, archive};
    zipArgv.insert(zipArgv.end(), names.begin(), names.end());
    auto made = Run(zipArgv, 20000);
    ASSERT_EQ(0, made.exitCode) << made.output;
}

}  // namespace

TEST(FileTests, ExistsDirectoryFileAndSize)
{
    TempDir dir;
    const std::string file = dir / "data.bin";
    ASSERT_TRUE(WriteFile(file, std::string(1000, 'x')));
    ASSERT_EQ(0, symlink(file.c_str(), (dir / "link").c_str()));
    ASSERT_EQ(0, symlink((dir / "missing").c_str(), (dir / "dangling").c_str()));

    EXPECT_TRUE(FileExists(dir.path().c_str(), "data.bin"));
    EXPECT_TRUE(FileExists(file.c_str()));
    EXPECT_TRUE(FileExists(dir.path().c_str()));
    EXPECT_FALSE(FileExists(dir.path().c_str(), "nothing"));
    EXPECT_FALSE(FileExists(""));
    EXPECT_FALSE(FileExists(nullptr));
    EXPECT_FALSE(FileExists((dir / "dangling").c_str()));

    EXPECT_TRUE(IsDirectory(dir.path().c_str()));
    EXPECT_FALSE(IsDirectory(file.c_str()));
    EXPECT_TRUE(IsFile(file.c_str()));
    EXPECT_TRUE(IsFile((dir / "link").c_str()));
    EXPECT_FALSE(IsFile(dir.path().c_str()));
    EXPECT_FALSE(IsFile((dir / "nothing").c_str()));

    EXPECT_EQ(1000u, FileSize(file.c_str()));
    // The link itself, not its target.
    EXPECT_EQ(file.size(), FileSize((dir / "link").c_str()));
    EXPECT_EQ(0u, FileSize((dir / "nothing").c_str()));
}

TEST(FileTests, ReadAtKeepsThePositionAndCountsFromTheEnd)
{
    TempDir dir;
    const std::string file = dir / "digits";
    ASSERT_TRUE(WriteFile(file, "0123456789"));
    int fd = open(file.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(3, lseek(fd, 3, SEEK_SET));

    char buffer[32] = {};
    size_t got = 99;
    EXPECT_TRUE(ReadAt(fd, buffer, 5, 3, &got));
    EXPECT_EQ(3u, got);
    EXPECT_EQ("567", std::string(buffer, got));
    EXPECT_TRUE(ReadAt(fd, buffer, -4, 4, &got));
    EXPECT_EQ("6789", std::string(buffer, got));
    EXPECT_TRUE(ReadAt(fd, buffer, 0, 0, &got));  // whole file
    EXPECT_EQ("0123456789", std::string(buffer, got));
    EXPECT_TRUE(ReadAt(fd, buffer, 8, 10, &got));  // short at the end
    EXPECT_EQ("89", std::string(buffer, got));
    EXPECT_FALSE(ReadAt(fd, buffer, -11, 1, &got));  // before the start
    EXPECT_EQ(3, lseek(fd, 0, SEEK_CUR));
    close(fd);

    int dirFd = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(dirFd, 0);
    EXPECT_FALSE(ReadAt(dirFd, buffer, 0, 1, &got));
    close(dirFd);
    EXPECT_FALSE(ReadAt(-1, buffer, 0, 1, &got));
}

TEST(FileTests, ZipMagic)
{
    TempDir dir;
    struct Case {
        const char* name;
        std::string content;
        bool zip;
    } cases[] = {{"empty", "", false},          {"one", "P", false},  {"other", "MZ\x90", false},
                 {"pk", "PK", true},            {"pkjunk", std::string("PK\0\0junk", 8), true},
                 {"lower", "pk\3\4", false}};
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteFile(dir / c.name, c.content));
        EXPECT_EQ(c.zip, IsZipFile((dir / c.name).c_str())) << c.name;
    }
    EXPECT_FALSE(IsZipFile((dir / "missing").c_str()));
    EXPECT_FALSE(IsZipFile(dir.path().c_str()));
    EXPECT_FALSE(IsZipFile(nullptr));
}

class UnzipTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(0, mkdir((src.path() + "/bin").c_str(), 0755));
        ASSERT_TRUE(WriteFile(src / "client", "#!/bin/sh\necho new\n", 0755));
        ASSERT_TRUE(WriteFile(src / "bin/lib.so", std::string(5000, 'L')));
        MakeZip(archive, src.path(), {"client", "bin"});
        ASSERT_EQ(0, chmod(archive.c_str(), 0600));
    }

    PlainLog log;
    TempDir src{"sa-zipsrc"};
    TempDir out{"sa-zipout"};
    std::string archive = out / "RC_1234.zip";
};

TEST_F(UnzipTest, UnpacksIntoTheTargetAndLeavesTheArchiveModeAlone)
{
    const std::string target = out / "RC_1234";
    ASSERT_TRUE(Unzip(archive.c_str(), target.c_str()));
    EXPECT_EQ("#!/bin/sh\necho new\n", ReadFile(target + "/client"));
    EXPECT_EQ(std::string(5000, 'L'), ReadFile(target + "/bin/lib.so"));
    struct stat st;
    ASSERT_EQ(0, stat((target + "/client").c_str(), &st));
    EXPECT_TRUE(st.st_mode & S_IXUSR);
    ASSERT_EQ(0, stat(archive.c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 07777) << "the archive must not be opened up to others";
    EXPECT_EQ("", log.Text());
}

TEST_F(UnzipTest, ReplacesFilesThatAreAlreadyThere)
{
    const std::string target = out / "RC_1234";
    ASSERT_EQ(0, mkdir(target.c_str(), 0755));
    ASSERT_EQ(0, mkdir((target + "/bin").c_str(), 0755));
    ASSERT_TRUE(WriteFile(target + "/client", "old old old old old old old\n"));
    ASSERT_TRUE(WriteFile(target + "/bin/lib.so", "old"));
    ASSERT_TRUE(WriteFile(target + "/keep", "mine"));
    ASSERT_TRUE(Unzip(archive.c_str(), target.c_str()));
    EXPECT_EQ("#!/bin/sh\necho new\n", ReadFile(target + "/client"));
    EXPECT_EQ(std::string(5000, 'L'), ReadFile(target + "/bin/lib.so"));
    EXPECT_EQ("mine", ReadFile(target + "/keep"));
}

TEST_F(UnzipTest, PathsWithShellCharactersAreUnpackedNotRun)
{
    const std::string odd = out / "it's a $(touch pwned); `touch pwned` & x.zip";
    ASSERT_EQ(0, rename(archive.c_str(), odd.c_str()));
    const std::string target = out / "target ; touch pwned";
    ASSERT_TRUE(Unzip(odd.c_str(), target.c_str()));
    EXPECT_EQ("#!/bin/sh\necho new\n", ReadFile(target + "/client"));
    EXPECT_FALSE(FileExists(out.path().c_str(), "pwned"));
    EXPECT_FALSE(FileExists("pwned"));
}

TEST_F(UnzipTest, NotAnArchiveRunsNothing)
{
    const std::string fake = out / "fake.zip";
    const std::string target = out / "never";
    ASSERT_TRUE(WriteFile(fake, "MZ not a zip"));
    EXPECT_FALSE(Unzip(fake.c_str(), target.c_str()));
    EXPECT_FALSE(Unzip((out / "missing.zip").c_str(), target.c_str()));
    EXPECT_FALSE(FileExists(target.c_str()));
    const std::string text = log.Text();
    EXPECT_NE(std::string::npos, text.find(" ERROR: " + fake + " is invalid zip file\r\n")) << text;
    EXPECT_NE(std::string::npos, text.find(" ERROR: " + out.path() + "/missing.zip is invalid zip file\r\n"));
    EXPECT_EQ(std::string::npos, text.find("Unzipping"));
}

TEST_F(UnzipTest, BrokenArchiveReportsTheFailure)
{
    const std::string broken = out / "broken.zip";
    ASSERT_TRUE(WriteFile(broken, std::string("PK\3\4", 4) + std::string(100, '\xff')));
    const std::string target = out / "broken";
    EXPECT_FALSE(Unzip(broken.c_str(), target.c_str()));
    EXPECT_NE(std::string::npos, log.Text().find(" ERROR: Unzipping Failed! " + broken + " into " + target + "\r\n"))
        << log.Text();
}
