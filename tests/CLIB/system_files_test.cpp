#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "File_Utils.h"
#include "Subprocess.h"
#include "TempDir.h"
#include "UniqueFd.h"
#include "system_test_log.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

TEST(FileTests, ReadAtAndZipMagic) {
    TempDir dir;
    const std::string file = dir / "digits";
    ASSERT_TRUE(WriteFile(file, "0123456789"));
    // ReadAt: negative offsets count from the end, count 0 reads all, the position stays.
    const UniqueFd fd(open(file.c_str(), O_RDONLY));
    ASSERT_EQ(3, lseek(fd.get(), 3, SEEK_SET));
    const struct {
        int64_t offset;
        size_t count;
        const char* read;
    } cases[] = {{5, 3, "567"}, {-4, 4, "6789"}, {0, 0, "0123456789"}, {8, 10, "89"}, {-11, 1, nullptr}};
    for (const auto& c : cases) {
        char buffer[32] = {};
        size_t got = 99;
        EXPECT_EQ(ReadAt(fd.get(), buffer, c.offset, c.count, &got), c.read != nullptr) << c.offset;
        EXPECT_EQ(c.read ? c.read : "", std::string(buffer, c.read ? got : 0));
    }
    EXPECT_EQ(3, lseek(fd.get(), 0, SEEK_CUR));

    const std::pair<std::string, bool> zips[] = {
        {"", false}, {"P", false}, {"PK", true}, {std::string("PK\0\0junk", 8), true}, {"pk\3\4", false}};
    for (const auto& [content, zip] : zips) {
        ASSERT_TRUE(WriteFile(dir / "z", content));
        EXPECT_EQ(zip, IsZipFile((dir / "z").c_str())) << content;
    }
}

// A real archive made by the zip command: unpacked over what is there, the
// archive kept private; what is no archive is refused before unzip runs.
TEST(FileTests, UnzipReplacesAndRefuses) {
    PlainLog log;
    TempDir src, out;
    const std::string archive = out / "RC_1234.zip", target = out / "RC_1234",
                      client = "#!/bin/sh\necho new\n";
    ASSERT_TRUE(WriteFile(src / "client", client, 0755));
    const auto made =
        testsupport::Run({"sh", "-c", "cd \"$1\" && zip -q \"$2\" client", "sh", src.path(), archive}, 20000);
    ASSERT_EQ(0, made.exitCode) << made.output;
    ASSERT_EQ(0, chmod(archive.c_str(), 0600));
    ASSERT_EQ(0, mkdir(target.c_str(), 0700));
    ASSERT_TRUE(WriteFile(target + "/client", "old old old old old old old\n"));
    ASSERT_TRUE(WriteFile(target + "/keep", "mine"));
    ASSERT_TRUE(Unzip(archive.c_str(), target.c_str()));
    EXPECT_EQ(client + "mine", ReadFile(target + "/client") + ReadFile(target + "/keep"));
    struct stat st;
    ASSERT_EQ(0, stat(archive.c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 07777) << "the archive must not be opened up to others";

    const std::string fake = out / "fake.zip", broken = out / "broken.zip", none = out / "none";
    ASSERT_TRUE(WriteFile(fake, "MZ not a zip"));
    ASSERT_TRUE(WriteFile(broken, std::string("PK\3\4", 4) + std::string(100, '\xff')));
    EXPECT_FALSE(Unzip(fake.c_str(), none.c_str()) || Unzip(broken.c_str(), none.c_str()));
    EXPECT_EQ(log.Text().find("Unzipping Failed! " + fake), std::string::npos) << "nothing is run for it";
    EXPECT_NE(log.Text().find(" ERROR: " + fake + " is invalid zip file\r\n"), std::string::npos)
        << log.Text();
    EXPECT_NE(log.Text().find(" ERROR: Unzipping Failed! " + broken + " into " + none + "\r\n"),
              std::string::npos);
}
