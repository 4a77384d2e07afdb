#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "ApplicationSettings.h"
#include "File_Utils.h"
#include "Subprocess.h"
#include "TempDir.h"
#include "system_test_log.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

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

TEST(FileTests, SelfPathAndLongLinks) {
    EXPECT_EQ(access((SelfPath() + "/system_utils_test").c_str(), X_OK), 0) << SelfPath();
    TempDir dir;
    for (std::size_t length : {511u, 512u, 513u, 1500u}) {
        // A target of exactly `length` characters ("/d/d/.../e/x"); it need not exist.
        std::string folder = "/";
        while (folder.size() < length - 2) folder += "d/";
        folder.resize(length - 2);
        if (folder.back() == '/') folder.back() = 'e';
        ASSERT_EQ(symlink((folder + "/x").c_str(), (dir / std::to_string(length)).c_str()), 0);
        EXPECT_EQ(LinkDirectory((dir / std::to_string(length)).c_str()), folder) << length;
    }
}
