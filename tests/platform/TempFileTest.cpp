#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/FileReplace.h"
#include "platform/OutputFile.h"
#include "support/TempDir.h"

namespace {

void WriteThrough(tcm::TOutputFile& file, const std::string& bytes)
{
    ASSERT_EQ(write(file.Fd(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

} // namespace

// Both ways of replacing a file share one temporary-file rule: this user's own
// file under the name (another save of this process, a leftover of an earlier
// process with the same id) is passed over, anything else stops the save and is
// named, and nothing is ever written through a link.
TEST(TempFile, OwnFilesArePassedOverPlantedNamesStopTheSave)
{
    TempDir dir;
    const std::string target = dir.File("capture.log");
    const std::string temp = target + ".tmp-" + std::to_string(getpid());
    ASSERT_TRUE(WriteWholeFile(target, "old"));
    ASSERT_TRUE(WriteWholeFile(temp, "leftover"));

    // Two replacing files of one process at once, beside a leftover.
    tcm::TOutputFile first, second;
    std::string error;
    ASSERT_TRUE(first.OpenReplacing(target, error)) << error;
    ASSERT_TRUE(second.OpenReplacing(target, error)) << error;
    WriteThrough(first, "first");
    WriteThrough(second, "second");
    ASSERT_TRUE(first.Close(error)) << error;
    EXPECT_EQ(ReadWholeFile(target), "first");
    ASSERT_TRUE(second.Close(error)) << error;
    EXPECT_EQ(ReadWholeFile(target), "second");
    tcm::ReplaceFileContents(target, "third");
    EXPECT_EQ(ReadWholeFile(target), "third");
    EXPECT_EQ(ReadWholeFile(temp), "leftover");
    ASSERT_EQ(unlink(temp.c_str()), 0);

    // A link planted at the temporary name.
    const std::string victim = dir.File("victim");
    ASSERT_TRUE(WriteWholeFile(victim, "precious"));
    ASSERT_EQ(symlink(victim.c_str(), temp.c_str()), 0);
    tcm::TOutputFile planted;
    EXPECT_FALSE(planted.OpenReplacing(target, error));
    EXPECT_EQ(error, "Unable to create " + target + ": " + tcm::PlantedFileText(temp));
    EXPECT_THROW(tcm::ReplaceFileContents(target, "fourth"), tcm::EPlantedFile);
    EXPECT_EQ(ReadWholeFile(victim), "precious");
    EXPECT_EQ(ReadWholeFile(target), "third");
    struct stat st {};
    ASSERT_EQ(lstat(temp.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}
