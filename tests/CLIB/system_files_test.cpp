#include <gtest/gtest.h>
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

// A real archive made by the zip command is unpacked over what is there and
// kept private; a broken one is said so.
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

    const std::string broken = out / "broken.zip";
    ASSERT_TRUE(WriteFile(broken, std::string("PK\3\4", 4) + std::string(100, '\xff')));
    EXPECT_FALSE(Unzip(broken.c_str(), target.c_str()));
    EXPECT_NE(log.Text().find(" ERROR: Unzipping Failed! " + broken + " into " + target + "\r\n"),
              std::string::npos)
        << log.Text();
}
