// What a killed run left in the destination: removed at the start of the next
// run when it is surely ours, left alone otherwise, and never in the way. A
// file at the top of the destination is never taken for a leftover.
#include "CopySupport.h"

#include "core/CopyRun.h"
#include "core/FileCopy.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <thread>
#include <utility>

using namespace zelvo;
using namespace zelvo::testing;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using zelvo::test::ExclusiveLock;

namespace {

// A session's end marks a temporary copy to go with its handle from the
// moment the copy exists: one still being made is waited for and marked, so
// that none is left when the process ends right after (its handles closed).
TEST(LeftoverSweep, ACopyBeingMadeAsTheSessionEndsGoesWithItsHandle) {
    Sandbox box;
    CopyLedger ledger;
    const KernelHandle made(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    std::optional<FileStream> copy;
    std::wstring path;
    std::thread maker([&] {
        try {
            ledger.Create(copy, [&] {
                FileStream created = FileStream::CreateTemporary(DirPath(box.Dst()), {}, box.Dst("a"), path, false);
                SetEvent(made.Get());
                // Widens the moment between the file's creation and its listing,
                // in which the end comes; the case holds whenever it comes.
                Sleep(200);
                return created;
            });
        } catch (const CopyStopped&) {
        }
    });
    WaitForSingleObject(made.Get(), INFINITE);
    ledger.Close();
    maker.join();
    ASSERT_TRUE(copy && !path.empty());
    copy.reset();
    EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(LeftoverSweep, RemovesAKilledRunsFoldersButNoFileAtTheTop) {
    Sandbox box;
    ASSERT_TRUE(WriteFileBytes(box.Src("a.txt"), "new a"));
    ASSERT_TRUE(WriteFileBytes(box.Dst("a.txt"), "old a"));
    // Killed mid-copy: its folder with a partial file in it.
    ASSERT_TRUE(CreateDirectoryA(box.Dst("~zlv0badf00d.tmp").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(box.Dst("~zlv0badf00d.tmp\\~zlv1234abcd.tmp"), Pattern(5000, 1)));
    // Killed between two files: an empty folder.
    ASSERT_TRUE(CreateDirectoryA(box.Dst("~zlv00000001.tmp").c_str(), nullptr));
    // Of our name, but at the top: a backup of a user's file of that name
    // whose source has gone since, as much as a killed run's file.
    ASSERT_TRUE(WriteFileBytes(box.Dst("~zlvdeadbeef.tmp"), "the only copy left"));
    RecordingProgress progress;

    const CopyRunResult result = Backup(box.Src(), box.Dst(), Overwrite(true), progress);

    EXPECT_EQ(result.leftoversRemoved, 3);
    EXPECT_THAT(result.failures, IsEmpty());
    EXPECT_EQ(result.copied, 1);
    EXPECT_EQ(ReadFileBytes(box.Dst("a.txt")), "new a");
    EXPECT_EQ(ReadFileBytes(box.Dst("~zlvdeadbeef.tmp")), "the only copy left");
    EXPECT_THAT(Names(box.Dst()), ElementsAre("a.txt", "~zlvdeadbeef.tmp"));

    // Nothing is left for the next run to find.
    RecordingProgress again;
    EXPECT_EQ(Backup(box.Src(), box.Dst(), Overwrite(true), again).leftoversRemoved, 0);
}

TEST(LeftoverSweep, LeavesEveryNameThatIsNotSurelyOurs) {
    Sandbox box;
    ASSERT_TRUE(WriteFileBytes(box.Src("a.txt"), "a"));
    // A name that the source holds is a backup, whatever it looks like.
    ASSERT_TRUE(WriteFileBytes(box.Src("~zlv0badf00d.tmp"), "a user's file"));
    ASSERT_TRUE(WriteFileBytes(box.Dst("~zlv0badf00d.tmp"), "its backup"));
    ASSERT_TRUE(CreateDirectoryA(box.Src("~zlv0000000f.tmp").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(box.Dst("~zlv0000000f.tmp").c_str(), nullptr));
    // Names are one without case: "~ZLV1234abcd.tmp" stands for every casing but ours.
    const std::vector<std::string> lookAlikes = {"~zlv1234567.tmp", "~zlv12345678.tmp.bak", "~ZLV1234abcd.tmp"};
    for (const auto& name : lookAlikes) ASSERT_TRUE(WriteFileBytes(box.Dst(name), "user " + name));
    ASSERT_TRUE(CreateDirectoryA(box.Dst("~zlv1234567a.tmp.d").c_str(), nullptr));
    // Folders of our name that hold something else are not ours alone.
    const std::string withUserFile = box.Dst("~zlv11111111.tmp");
    ASSERT_TRUE(CreateDirectoryA(withUserFile.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(withUserFile + "\\notes.txt", "notes"));
    ASSERT_TRUE(WriteFileBytes(withUserFile + "\\~zlv22222222.tmp", "ours or not"));
    const std::string withFolder = box.Dst("~zlv33333333.tmp");
    ASSERT_TRUE(CreateDirectoryA(withFolder.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((withFolder + "\\~zlv44444444.tmp").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(withFolder + "\\~zlv55555555.tmp", "kept"));
    const auto before = Names(box.Dst());
    RecordingProgress progress;

    const CopyRunResult result = Backup(box.Src(), box.Dst(), Overwrite(true), progress);

    EXPECT_EQ(result.leftoversRemoved, 0);
    EXPECT_EQ(result.copied, 2);
    EXPECT_EQ(ReadFileBytes(box.Dst("~zlv0badf00d.tmp")), "a user's file");
    auto expected = before;
    expected.push_back("a.txt");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Names(box.Dst()), expected);
    for (const auto& name : lookAlikes) EXPECT_EQ(ReadFileBytes(box.Dst(name)), "user " + name);
    EXPECT_THAT(Names(withUserFile), ElementsAre("notes.txt", "~zlv22222222.tmp"));
    EXPECT_THAT(Names(withFolder), ElementsAre("~zlv44444444.tmp", "~zlv55555555.tmp"));
}

// Another running copy of the program has its temporary file open without
// sharing: the sweep cannot delete it and must not stop over it.
TEST(LeftoverSweep, FilesInUseAreLeftAndTheRunGoesOn) {
    Sandbox box;
    ASSERT_TRUE(WriteFileBytes(box.Src("a.txt"), "a"));
    const std::string folder = box.Dst("~zlv0000bbbb.tmp");
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(folder + "\\~zlv0000cccc.tmp", "being written"));
    ASSERT_TRUE(WriteFileBytes(folder + "\\~zlv0000dddd.tmp", "stale"));
    const ExclusiveLock folderWriter(folder + "\\~zlv0000cccc.tmp");
    ASSERT_TRUE(folderWriter.Held());
    RecordingProgress progress;

    const CopyRunResult result = Backup(box.Src(), box.Dst(), Overwrite(false), progress);

    // The stale file goes; the open one and the folder holding it stay.
    EXPECT_EQ(result.leftoversRemoved, 1);
    EXPECT_THAT(result.failures, IsEmpty());
    EXPECT_EQ(result.copied, 1);
    EXPECT_EQ(ReadFileBytes(box.Dst("a.txt")), "a");
    EXPECT_THAT(Names(box.Dst()), ElementsAre("a.txt", "~zlv0000bbbb.tmp"));
    EXPECT_THAT(Names(folder), ElementsAre("~zlv0000cccc.tmp"));
}

// Stands for a second copy of the program: when the first run has put its
// last copy in place (its folders, one for each copy it makes at once, are
// empty then, and removed only once the bar is full), it runs a whole backup
// of its own into the same destination, while a copy that the first run has
// written waits in one of the first run's folders for its rename.
class SecondRunAtTheEnd : public RecordingProgress {
public:
    explicit SecondRunAtTheEnd(const Sandbox& box) : box_(box) {}
    void SetPosition(int value) override {
        RecordingProgress::SetPosition(value);
        for (const auto& name : Names(box_.Dst())) {
            if (IsTemporaryName(name)) liveFolders.push_back(name);
        }
        for (const auto& folder : liveFolders) emptyFolders += Names(box_.Dst() + "\\" + folder).empty() ? 1 : 0;
        if (liveFolders.empty()) return;  // the test fails on it
        const std::string waiting = box_.Dst() + "\\" + liveFolders[0] + "\\~zlv0000abcd.tmp";
        ASSERT_TRUE(WriteFileBytes(waiting, "written and closed"));
        RecordingProgress quiet;
        second = Backup(box_.Root() + "\\other", box_.Dst(), Overwrite(false), quiet);
        waitingCopyKept = ReadFileBytes(waiting) == "written and closed";
        DeleteFileA(waiting.c_str());
    }
    std::vector<std::string> liveFolders;
    int emptyFolders = 0;
    bool waitingCopyKept = false;
    CopyRunResult second;

private:
    const Sandbox& box_;
};

TEST(LeftoverSweep, ALiveRunsFolderSurvivesAnotherRunsSweep) {
    Sandbox box;
    ASSERT_TRUE(WriteFileBytes(box.Src("1.txt"), "one"));
    ASSERT_TRUE(WriteFileBytes(box.Src("2.txt"), "two"));
    ASSERT_TRUE(CreateDirectoryA((box.Root() + "\\other").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(box.Root() + "\\other\\3.txt", "three"));
    SecondRunAtTheEnd progress(box);

    const CopyRunResult first = Backup(box.Src(), box.Dst(), Overwrite(false), progress);

    // Nothing but the holds kept the folders and the copy in one from the other run's sweep.
    // A folder is made by each copy in flight that copied (both files may take one).
    ASSERT_GE(progress.liveFolders.size(), 1u);
    ASSERT_LE(progress.liveFolders.size(), static_cast<std::size_t>(std::min(2, FilesInFlightUnderTest())));
    EXPECT_EQ(progress.emptyFolders, static_cast<int>(progress.liveFolders.size()));
    EXPECT_TRUE(progress.waitingCopyKept);
    EXPECT_EQ(progress.second.leftoversRemoved, 0);
    EXPECT_EQ(progress.second.copied, 1);
    EXPECT_THAT(first.failures, IsEmpty());
    EXPECT_EQ(first.copied, 2);
    EXPECT_EQ(first.leftoversRemoved, 0);
    // Each run still removed its own folder at its end.
    EXPECT_THAT(Names(box.Dst()), ElementsAre("1.txt", "2.txt", "3.txt"));
}

// Another copy of the program, whose sweep claims a lane's new folder in the
// moment before the run holds it (so the hold is refused) and then removes it.
class SweptBeforeTheHold {
public:
    SweptBeforeTheHold() : real_(std::exchange(CreateFileCall, &Open)) {
        real = real_;
        refusal = ERROR_SUCCESS;
    }
    ~SweptBeforeTheHold() { CreateFileCall = real_; }
    SweptBeforeTheHold(const SweptBeforeTheHold&) = delete;
    SweptBeforeTheHold& operator=(const SweptBeforeTheHold&) = delete;

    static inline std::atomic<DWORD> refusal{ERROR_SUCCESS};  // of the first hold

private:
    static HANDLE WINAPI Open(LPCWSTR path, DWORD access, DWORD sharing, LPSECURITY_ATTRIBUTES security,
                              DWORD disposition, DWORD flags, HANDLE templateFile) {
        const bool hold = access == FILE_LIST_DIRECTORY && (flags & FILE_FLAG_BACKUP_SEMANTICS) != 0;
        if (hold && refusal == ERROR_SUCCESS) {
            FileHandle claim = ClaimDirectory(path);
            const HANDLE held = real(path, access, sharing, security, disposition, flags, templateFile);
            refusal = held == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_INVALID_HANDLE;
            RemoveClaimedDirectory(claim);
            SetLastError(refusal);
            return held;
        }
        return real(path, access, sharing, security, disposition, flags, templateFile);
    }
    static inline decltype(CreateFileCall) real = nullptr;
    decltype(CreateFileCall) real_;
};

TEST(LeftoverSweep, ALaneWhoseFolderAnotherRunSweptTakesAnother) {
    Sandbox box;
    for (const char* name : {"1.txt", "2.txt", "3.txt"}) ASSERT_TRUE(WriteFileBytes(box.Src(name), name));
    const SweptBeforeTheHold sweep;
    RecordingProgress progress;
    const CopyRunResult result = Backup(box.Src(), box.Dst(), Overwrite(false), progress);
    EXPECT_EQ(SweptBeforeTheHold::refusal, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_THAT(result.failures, IsEmpty());
    EXPECT_EQ(result.copied, 3);
    EXPECT_THAT(Names(box.Dst()), ElementsAre("1.txt", "2.txt", "3.txt"));
}

}  // namespace
