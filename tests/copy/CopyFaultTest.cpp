// Failures during a run: each entry that fails is reported and skipped, the
// rest is copied, and no existing destination file is damaged.
#include "CopySupport.h"

#include "core/CopyRun.h"
#include "core/Failure.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <iterator>
#include <mutex>
#include <new>
#include <optional>
#include <utility>

using namespace zelvo;
using namespace zelvo::testing;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using zelvo::test::ExclusiveLock;

namespace {

// Another program's hold on a source, for the whole run or only until the run
// gives the file its second chance (shows its name again, once its first try
// has been refused): the whole file opened without sharing, or (through
// FailRead, as Wine does not enforce byte-range locks on reads) a range past
// the first buffer locked, so that the copy is refused part-way through the read.
class SourceHold : public WithoutFlushes, public RecordingProgress {
public:
    SourceHold(const std::string& file, bool range, bool forAMoment)
        : file_(file), range_(range), forAMoment_(forAMoment) {
        if (!range) handle_ = CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    }
    ~SourceHold() override { Release(); }
    SourceHold(const SourceHold&) = delete;
    SourceHold& operator=(const SourceHold&) = delete;

    bool Held() const { return range_ || handle_ != INVALID_HANDLE_VALUE; }
    void SetCaption(const std::string& caption) override {
        RecordingProgress::SetCaption(caption);
        if (forAMoment_ && caption == " 备份 " + file_ && ++shown_ == 2) Release();
    }
    std::uint32_t FailRead(const std::string& file, std::uint64_t offset) override {
        const bool locked = range_ && !released_ && file == file_ && offset >= kCopyBufferSize;
        return locked ? ERROR_LOCK_VIOLATION : 0;
    }

private:
    void Release() {
        released_ = true;
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE));
    }
    std::string file_;
    bool range_;
    bool forAMoment_;
    int shown_ = 0;
    std::atomic<bool> released_{false};  // read on the copy's thread
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// A source that another program has in use is tried again after the other
// files, about every secondChanceEveryMs; it is reported only when it is
// still refused secondChanceMs after the other files, as it was refused.
TEST(CopyRunInUse, ASourceInUseGetsASecondChanceAndFailsOnlyWhenStillRefused) {
    struct Row {
        const char* hold;
        bool range;
        bool forAMoment;   // let go at the second try, else held for the whole run
        const char* text;  // the failure when held for good
        DWORD reason;
    };
    const Row rows[] = {
        {"opened for a moment", false, true, nullptr, 0},
        {"opened for the whole run", false, false, "Cannot open file", ERROR_SHARING_VIOLATION},
        {"a range locked for a moment", true, true, nullptr, 0},
        {"a range locked for the whole run", true, false, "Stream read error", ERROR_LOCK_VIOLATION},
    };
    for (const Row& row : rows) {
        CopyTuning tuning = ShortWaits();
        if (row.forAMoment) {
            // A file let go ends the wait long before a window that no slow machine
            // reaches; its second try comes after a wait longer than the longest gap.
            tuning.retries.secondChanceMs = 5000;
            tuning.retries.secondChanceEveryMs = 3 * kLongestKeepAliveGapMs / 2;
        }
        Sandbox box;
        const std::string content = Pattern(2 * kCopyBufferSize, 3);
        ASSERT_TRUE(WriteFileBytes(box.Src("busy.txt"), content));
        ASSERT_TRUE(WriteFileBytes(box.Src("free.txt"), "free"));
        ASSERT_TRUE(WriteFileBytes(box.Dst("busy.txt"), "previous backup"));
        const ULONGLONG began = GetTickCount64();
        SourceHold progress(box.Src("busy.txt"), row.range, row.forAMoment);
        ASSERT_TRUE(progress.Held()) << row.hold;
        const CopyRunResult result = Backup(box.Src(), box.Dst(), Overwrite(true), progress, &progress, tuning);
        const ULONGLONG took = GetTickCount64() - began;
        const ULONGLONG keepAliveGap = progress.LongestKeepAliveGapUntilNow();

        // Each file steps the bar once and is counted once; every try shows its name.
        EXPECT_THAT(progress.positions, ElementsAre(5000, 10000)) << row.hold;
        EXPECT_THAT(progress.finalPositions, ElementsAre(10000)) << row.hold;
        const std::string caption = " 备份 " + box.Src("busy.txt");
        const auto tries = std::count(progress.captions.begin(), progress.captions.end(), caption);
        EXPECT_THAT(Names(box.Dst()), ElementsAre("busy.txt", "free.txt")) << row.hold;
        EXPECT_EQ(ReadFileBytes(box.Dst("free.txt")), "free");
        if (row.text) {
            EXPECT_GE(tries, 2) << row.hold;
            EXPECT_LE(tries, 2 + static_cast<long>(tuning.retries.secondChanceMs / tuning.retries.secondChanceEveryMs))
                << row.hold;
            EXPECT_EQ(result.copied, 1) << row.hold;
            EXPECT_THAT(result.failures, ElementsAre(Line(row.text, box.Src("busy.txt"), row.reason))) << row.hold;
            EXPECT_EQ(ReadFileBytes(box.Dst("busy.txt")), "previous backup") << row.hold;
            EXPECT_GE(took, tuning.retries.secondChanceMs) << row.hold;
            EXPECT_LT(took, tuning.retries.secondChanceMs + kSlowMachineMarginMs) << row.hold;
        } else {
            EXPECT_EQ(tries, 2) << row.hold;
            EXPECT_EQ(result.copied, 2) << row.hold;
            EXPECT_THAT(result.failures, IsEmpty()) << row.hold;
            EXPECT_TRUE(ReadFileBytes(box.Dst("busy.txt")) == content) << row.hold;
            EXPECT_LT(took, tuning.retries.secondChanceMs) << row.hold;
        }
        EXPECT_LE(keepAliveGap, kLongestKeepAliveGapMs) << row.hold;
    }
}

// Names that the ANSI code page holds not at all, or only as a look-alike
// (pâte.txt as pate.txt), are copied under their exact names, and what the
// run shows tells each file from every other.
TEST(CopyRunNames, EveryNameIsCopiedUnderItsOwnName) {
    if (GetACP() != 936) GTEST_SKIP() << "the shown names below are those of code page 936";
    Sandbox box;
    const std::pair<std::wstring, std::string> names[] = {
        {L"p\u00e2te.txt", "p<U+00E2>te.txt"},
        {L"pate.txt", "pate.txt"},
        {L"\u62a5\u544a\U0001F600.txt", "报告<U+1F600>.txt"},
        {L"\ud55c\uad6d\uc5b4.txt", "<U+D55C><U+AD6D><U+C5B4>.txt"},
        {L"M\u00fcller \u00f6.txt", "Müller <U+00F6>.txt"},
        {L"a\u2022b.txt", "a<U+2022>b.txt"},
        {L"a\u0e01.txt", "a<U+0E01>.txt"},
        {L"\u4e2d\u6587.txt", "中文.txt"},
        {L"price\u20ac.txt", "price€.txt"},
    };
    for (const auto& [name, shown] : names) ASSERT_TRUE(WriteFileBytes(box.Src(name), "content of " + shown));
    // "?" in place of a character would make the skip test match this by wildcard.
    ASSERT_TRUE(WriteFileBytes(box.Dst("axb.txt"), "x"));
    RecordingProgress progress;

    const CopyRunResult result = Backup(box.Src(), box.Dst(), Overwrite(false), progress);

    EXPECT_THAT(result.failures, IsEmpty());
    EXPECT_EQ(result.copied, 9);
    std::vector<std::string> shownNames;
    for (const auto& [name, shown] : names) {
        EXPECT_EQ(ReadFileBytes(box.Dst(name)), "content of " + shown) << shown;
        shownNames.push_back(shown);
        EXPECT_THAT(progress.captions, ::testing::Contains(" 备份 " + box.Src() + "\\" + shown));
    }
    shownNames.push_back("axb.txt");
    EXPECT_THAT(Names(box.Dst()), ::testing::UnorderedElementsAreArray(shownNames));

    // The skip test finds each under its exact name; a look-alike is not its twin.
    RecordingProgress again;
    EXPECT_EQ(Backup(box.Src(), box.Dst(), Overwrite(false), again).skipped, 9);
    ASSERT_TRUE(WriteFileBytes(box.Src(L"p\u00e2te.txt"), "new pate with a hat"));
    ASSERT_TRUE(WriteFileBytes(box.Src(L"pate.txt"), "new pate"));
    ASSERT_TRUE(DeleteFileW(box.Dst(L"pate.txt").c_str()));
    RecordingProgress third;
    EXPECT_EQ(Backup(box.Src(), box.Dst(), Overwrite(false), third).copied, 1);
    EXPECT_EQ(ReadFileBytes(box.Dst(L"pate.txt")), "new pate");
    EXPECT_EQ(ReadFileBytes(box.Dst(L"p\u00e2te.txt")), "content of p<U+00E2>te.txt");
}

// Names that a plain path would not reach, and paths past MAX_PATH, as a
// source on another system or a deep destination holds them.
TEST(CopyRunNames, LongPathsAndNamesThatThePlainFormWouldChange) {
    Sandbox box;
    const std::string dest = box.Dst() + "\\" + std::string(239 - box.Dst().size(), 'd');
    ASSERT_TRUE(CreateOneDirectory(dest));
    // "a.txt" fits there, but not the two temporary names in front of it.
    const std::wstring longest(255, L'n');
    const std::wstring names[] = {L"a.txt",   longest,          L"trailing dot.", L"aux.txt",
                                  L"nul",     L"blank ",        L"COM\u00b9.txt", L"lpt\u00b3"};
    for (const auto& name : names) ASSERT_TRUE(WriteFileBytes(box.Src(name), ShownName(name))) << ShownName(name);
    RecordingProgress progress;

    const CopyRunResult result = Backup(box.Src(), dest, Overwrite(false), progress);

    EXPECT_THAT(result.failures, IsEmpty());
    EXPECT_EQ(result.copied, 8);
    for (const auto& name : names) EXPECT_EQ(ReadFileBytes(DirPath(dest).PathOf(name)), ShownName(name));
    EXPECT_EQ(Names(dest).size(), 8u);
    // Windows takes COM1-9, LPT1-9 and their superscript forms for devices;
    // only the exact form reaches a file of such a name in a short folder.
    for (std::size_t i = 2; i < std::size(names); ++i) {
        EXPECT_EQ(DirPath(box.Src()).PathOf(names[i]).rfind(L"\\\\?\\", 0), 0u) << ShownName(names[i]);
    }
    EXPECT_EQ(DirPath(box.Src()).PathOf(L"COM10.txt").rfind(L"\\\\?\\", 0), std::wstring::npos);
    EXPECT_THAT(progress.captions, ::testing::Contains(" 备份 " + box.Src() + "\\" + ShownName(longest)));
    // The skip test reaches them all.
    RecordingProgress again;
    EXPECT_EQ(Backup(box.Src(), dest, Overwrite(false), again).skipped, 8);
}

// A name that is only the 8.3 alias of another file in the destination
// reaches that file: it is taken as present without the switch, and never
// replaces it with the switch.
TEST(CopyRunNames, AnAliasNeverReplacesTheFileItBelongsTo) {
    Sandbox box;
    ASSERT_TRUE(WriteFileBytes(box.Dst("longfilename.txt"), "another file"));
    WCHAR alias[MAX_PATH];
    ASSERT_GT(GetShortPathNameW(box.Dst(L"longfilename.txt").c_str(), alias, MAX_PATH), 0u);
    const std::wstring name = std::wstring(alias).substr(std::wstring(alias).rfind(L'\\') + 1);
    ASSERT_NE(name, L"longfilename.txt");
    ASSERT_TRUE(WriteFileBytes(box.Src(name), "a file named like the alias"));
    for (const bool overwrite : {false, true}) {
        RecordingProgress progress;
        const CopyRunResult result = Backup(box.Src(), box.Dst(), Overwrite(overwrite), progress);
        if (overwrite) {
            EXPECT_THAT(result.failures,
                        ElementsAre(Line("Cannot create file", box.Dst(ShownName(name)), ERROR_ALREADY_EXISTS)));
        } else {
            EXPECT_THAT(result.failures, IsEmpty());
            EXPECT_EQ(result.skipped, 1);
        }
        EXPECT_EQ(ReadFileBytes(box.Dst("longfilename.txt")), "another file");
        EXPECT_THAT(Names(box.Dst()), ElementsAre("longfilename.txt"));
    }
}

// Breaks the listings of one directory off after `after` entries, in the
// counting pass, the copy pass, or both (the copy pass begins with SetStep).
class BreakingListing : public CopyFaults, public RecordingProgress {
public:
    BreakingListing(std::string dir, std::size_t after, bool counting, bool copying)
        : dir_(std::move(dir)), after_(after), counting_(counting), copying_(copying) {}
    std::uint32_t ListingError(const std::string& dir, std::size_t listed) override {
        const bool pass = steps.empty() ? counting_ : copying_;
        return dir == dir_ && pass && listed == after_ ? ERROR_NETNAME_DELETED : 0;
    }

private:
    std::string dir_;
    std::size_t after_;
    bool counting_, copying_;
};

TEST(CopyRunFailures, AListingThatBreaksOffIsAFailureAndWhatWasCopiedStays) {
    const std::string reason = SystemErrorText(ERROR_NETNAME_DELETED);
    const auto prepare = [](Sandbox& box) {
        for (const char* name : {"1", "2", "3", "4"}) ASSERT_TRUE(WriteFileBytes(box.Src(name), name));
        ASSERT_TRUE(CreateDirectoryA(box.Dst("~zlv0badf00d.tmp").c_str(), nullptr));
        ASSERT_TRUE(WriteFileBytes(box.Dst("~zlv0badf00d.tmp\\~zlv00000001.tmp"), "a killed run's leftover"));
    };
    {
        // The share drops in the copy pass: two files are copied, and the run says it did not see the rest.
        Sandbox box;
        prepare(box);
        BreakingListing faults(box.Src(), 2, false, true);
        const CopyRunResult result = Backup(box.Src(), box.Dst(), Overwrite(false), faults, &faults);
        EXPECT_THAT(result.failures, ElementsAre("Cannot list directory " + box.Src() + " (" + reason + ")"));
        EXPECT_EQ(result.copied, 2);
        EXPECT_EQ(result.leftoversRemoved, 2);
        EXPECT_EQ(Names(box.Dst()).size(), 2u);
        EXPECT_THAT(faults.finalPositions, ElementsAre(10000));
    }
    {
        // Dropped in the counting pass only: everything is copied, but
        // without the whole list of the source's names nothing is swept.
        Sandbox box;
        prepare(box);
        BreakingListing faults(box.Src(), 1, true, false);
        const CopyRunResult result = Backup(box.Src(), box.Dst(), Overwrite(false), faults, &faults);
        EXPECT_THAT(result.failures, IsEmpty());
        EXPECT_EQ(result.copied, 4);
        EXPECT_EQ(result.leftoversRemoved, 0);
        EXPECT_EQ(ReadFileBytes(box.Dst("~zlv0badf00d.tmp\\~zlv00000001.tmp")), "a killed run's leftover");
    }
    {
        // The destination's listing breaks off: reported first, and the
        // files it did not list are still found by the skip test.
        Sandbox box;
        prepare(box);
        for (const char* name : {"1", "2", "3", "4"}) ASSERT_TRUE(WriteFileBytes(box.Dst(name), "old"));
        BreakingListing faults(box.Dst(), 1, true, true);
        const CopyRunResult result = Backup(box.Src(), box.Dst(), Overwrite(false), faults, &faults);
        EXPECT_THAT(result.failures, ElementsAre("Cannot list directory " + box.Dst() + " (" + reason + ")"));
        EXPECT_EQ(result.skipped, 4);
        EXPECT_EQ(result.copied, 0);
        for (const char* name : {"1", "2", "3", "4"}) EXPECT_EQ(ReadFileBytes(box.Dst(name)), "old");
    }
}

// The destination files a backup never replaces, whatever the switch says.
struct Protected {
    const char* name;
    DWORD attributes;
};

class ProtectedDestination : public ::testing::TestWithParam<Protected> {};

TEST_P(ProtectedDestination, IsReportedUnderOverwriteOnAndLeftByteIdentical) {
    Sandbox box;
    const std::string dest = box.Dst("file.txt");
    ASSERT_TRUE(WriteFileBytes(box.Src("file.txt"), "new content"));
    ASSERT_TRUE(WriteFileBytes(box.Src("other.txt"), "other"));
    ASSERT_TRUE(WriteFileBytes(dest, "protected old content"));
    ASSERT_TRUE(SetFileAttributesA(dest.c_str(), GetParam().attributes));
    RecordingProgress progress;

    const CopyRunResult result = Backup(box.Src(), box.Dst(), Overwrite(true), progress);

    // The platform's own create over such a file is refused so.
    EXPECT_THAT(result.failures, ElementsAre(Line("Cannot create file", dest, ERROR_ACCESS_DENIED)));
    EXPECT_EQ(result.copied, 1);
    EXPECT_EQ(ReadFileBytes(dest), "protected old content");
    EXPECT_EQ(GetFileAttributesA(dest.c_str()) & GetParam().attributes, GetParam().attributes);
    EXPECT_THAT(Names(box.Dst()), ElementsAre("file.txt", "other.txt"));
}

TEST_P(ProtectedDestination, IsSkippedQuietlyUnderOverwriteOff) {
    Sandbox box;
    const std::string dest = box.Dst("file.txt");
    ASSERT_TRUE(WriteFileBytes(box.Src("file.txt"), "new content"));
    ASSERT_TRUE(WriteFileBytes(dest, "protected old content"));
    ASSERT_TRUE(SetFileAttributesA(dest.c_str(), GetParam().attributes));
    RecordingProgress progress;

    const CopyRunResult result = Backup(box.Src(), box.Dst(), Overwrite(false), progress);

    EXPECT_THAT(result.failures, IsEmpty());
    EXPECT_EQ(result.skipped, 1);
    EXPECT_EQ(ReadFileBytes(dest), "protected old content");
    EXPECT_THAT(Names(box.Dst()), ElementsAre("file.txt"));
}

INSTANTIATE_TEST_SUITE_P(Attributes, ProtectedDestination,
                         ::testing::Values(Protected{"ReadOnly", FILE_ATTRIBUTE_READONLY},
                                           Protected{"Hidden", FILE_ATTRIBUTE_HIDDEN},
                                           Protected{"System", FILE_ATTRIBUTE_SYSTEM}),
                         [](const ::testing::TestParamInfo<Protected>& info) { return info.param.name; });

TEST(CopyRunFailures, DirectoryInThePlaceOfTheDestinationFile) {
    Sandbox box;
    ASSERT_TRUE(WriteFileBytes(box.Src("name"), "file"));
    ASSERT_TRUE(CreateDirectoryA(box.Dst("name").c_str(), nullptr));
    for (const bool overwrite : {false, true}) {
        RecordingProgress progress;
        // A directory does not count for the skip test, and is never replaced.
        const CopyRunResult result = Backup(box.Src(), box.Dst(), Overwrite(overwrite), progress);
        EXPECT_THAT(result.failures, ElementsAre(Line("Cannot create file", box.Dst("name"), ERROR_ACCESS_DENIED)))
            << overwrite;
        EXPECT_TRUE(DirectoryExists(box.Dst("name")));
    }
    EXPECT_THAT(Names(box.Dst()), ElementsAre("name"));
}

TEST(CopyRunFailures, DestinationHeldOpenElsewhereKeepsItsContent) {
    Sandbox box;
    ASSERT_TRUE(WriteFileBytes(box.Src("a.txt"), "new"));
    ASSERT_TRUE(WriteFileBytes(box.Dst("a.txt"), "open elsewhere"));
    ExclusiveLock holder(box.Dst("a.txt"));
    ASSERT_TRUE(holder.Held());
    RecordingProgress progress;

    // The content is written, but the rename that would put it in place fails.
    const CopyRunResult result = Backup(box.Src(), box.Dst(), Overwrite(true), progress, nullptr, ShortWaits());
    holder.Release();

    EXPECT_THAT(result.failures, ElementsAre(Line("Cannot create file", box.Dst("a.txt"), ERROR_ACCESS_DENIED)));
    EXPECT_EQ(ReadFileBytes(box.Dst("a.txt")), "open elsewhere");
    EXPECT_THAT(Names(box.Dst()), ElementsAre("a.txt"));
}

// A destination folder that is not there (its parent is missing too) stops
// the run before its first file, with one line for the folder: each file
// would fail for the same reason.
TEST(CopyRunFailures, MissingDestinationThatCannotBeCreatedIsOneFailure) {
    Sandbox box;
    ASSERT_TRUE(WriteFileBytes(box.Src("a.txt"), "a"));
    ASSERT_TRUE(WriteFileBytes(box.Src("b.txt"), "b"));
    const std::string dest = box.Root() + "\\missing\\deeper";
    ASSERT_FALSE(CreateOneDirectory(dest));  // one level only: the parent is missing too
    RecordingProgress progress;

    const CopyRunResult result = Backup(box.Src(), dest, Overwrite(false), progress);

    EXPECT_FALSE(result.refused);
    EXPECT_EQ(result.copied, 0);
    EXPECT_EQ(result.notTried, 2);
    const std::string reason = SystemErrorText(ERROR_PATH_NOT_FOUND);
    EXPECT_THAT(result.failures, ElementsAre("目的目录[" + dest + "]无法访问 (" + reason + ")"));
    EXPECT_THAT(progress.positions, ElementsAre(5000, 10000));
    EXPECT_THAT(progress.finalPositions, ElementsAre(10000));
    EXPECT_FALSE(DirectoryExists(box.Root() + "\\missing"));
}

// How a copy fails part-way: its read or its write fails, or the memory for
// the write runs out (what the copy's worker throws).
enum class PartWay { Read, Write, OutOfMemory };

// Fails the chosen transfer of the chosen file; counts the buffers seen.
class FailAt : public WithoutFlushes {
public:
    FailAt(PartWay how, std::string file, std::uint64_t offset)
        : how_(how), file_(std::move(file)), offset_(offset) {}
    std::uint32_t FailRead(const std::string& file, std::uint64_t offset) override {
        WithoutFlushes::FailRead(file, offset);
        return how_ == PartWay::Read && file == file_ && offset == offset_ ? ERROR_READ_FAULT : 0;
    }
    std::uint32_t FailWrite(const std::string& file, std::uint64_t offset) override {
        if (how_ == PartWay::Read || file != file_ || offset != offset_) return 0;
        if (how_ == PartWay::OutOfMemory) throw std::bad_alloc();
        return ERROR_WRITE_FAULT;
    }

private:
    PartWay how_;
    std::string file_;
    std::uint64_t offset_;
};

class FailurePartWay : public ::testing::TestWithParam<PartWay> {};

TEST_P(FailurePartWay, LeavesTheOldCopyByteIdenticalAndNoTemporaryFile) {
    const bool read = GetParam() == PartWay::Read;
    Sandbox box;
    const std::string big = Pattern(5 * kCopyBufferSize + 123, 1);
    const std::string old = Pattern(3 * kCopyBufferSize, 2);
    ASSERT_TRUE(WriteFileBytes(box.Src("big.bin"), big));
    ASSERT_TRUE(WriteFileBytes(box.Src("small.bin"), "small"));
    ASSERT_TRUE(WriteFileBytes(box.Dst("big.bin"), old));
    const std::string failing = read ? box.Src("big.bin") : box.Dst("big.bin");
    FailAt faults(GetParam(), failing, 3 * kCopyBufferSize);
    RecordingProgress progress;

    const CopyRunResult result = Backup(box.Src(), box.Dst(), Overwrite(true), progress, &faults);

    const std::string line[] = {Line("Stream read error", failing, ERROR_READ_FAULT),
                                Line("Stream write error", failing, ERROR_WRITE_FAULT),
                                Line("Cannot create file", failing, ERROR_NOT_ENOUGH_MEMORY)};
    EXPECT_THAT(result.failures, ElementsAre(line[static_cast<int>(GetParam())]));
    EXPECT_EQ(result.copied, 1);
    EXPECT_EQ(ReadFileBytes(box.Dst("big.bin")), old);
    EXPECT_EQ(ReadFileBytes(box.Dst("small.bin")), "small");
    EXPECT_THAT(Names(box.Dst()), ElementsAre("big.bin", "small.bin"));
    // The source can be opened again: the run closed it despite the failure.
    EXPECT_EQ(ReadFileBytes(box.Src("big.bin")), big);
    // Three buffers went through before the failing one, and none after it;
    // the small file has one.
    EXPECT_EQ(faults.reads, 5u);
}

TEST_P(FailurePartWay, WithoutAnOldCopyLeavesNoPartialFile) {
    const bool read = GetParam() == PartWay::Read;
    Sandbox box;
    ASSERT_TRUE(WriteFileBytes(box.Src("big.bin"), Pattern(2 * kCopyBufferSize + 1, 3)));
    FailAt faults(GetParam(), read ? box.Src("big.bin") : box.Dst("big.bin"), kCopyBufferSize);
    RecordingProgress progress;

    const CopyRunResult result = Backup(box.Src(), box.Dst(), Overwrite(false), progress, &faults);

    EXPECT_EQ(result.failures.size(), 1u);
    EXPECT_THAT(Names(box.Dst()), IsEmpty());
}

// A disk with room for c.txt but not for big.bin: c.txt finds it full while
// big.bin is being written (with two in flight, each waits for the other).
class FullWhileBigIsWritten : public WithoutFlushes {
public:
    explicit FullWhileBigIsWritten(bool together) : together_(together) {}
    std::uint32_t FailWrite(const std::string& file, std::uint64_t offset) override {
        if (file.find("big.bin") != std::string::npos) {
            if (offset == 0) {
                ++bigTries;
                bigWriting = true;
                SetEvent(bigStarted.Get());
            } else if (offset == kCopyBufferSize) {
                if (together_) WaitForSingleObject(smallTried.Get(), 10000);
                bigWriting = false;
                return ERROR_DISK_FULL;
            }
        } else if (offset == 0) {
            ++smallTries;
            if (together_ && smallTries == 1) WaitForSingleObject(bigStarted.Get(), 10000);
            // Looked at before big.bin is let go, which ends its writing.
            const bool full = bigWriting;
            SetEvent(smallTried.Get());
            if (full) return ERROR_DISK_FULL;
        }
        return 0;
    }
    std::atomic<int> bigTries{0}, smallTries{0};
    std::atomic<bool> bigWriting{false};
    KernelHandle smallTried{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    KernelHandle bigStarted{CreateEventA(nullptr, TRUE, FALSE, nullptr)};

private:
    bool together_;
};

// A copy that found the disk full beside another is tried once more alone,
// after the others; one that was alone is not tried again.
TEST(CopyRunFailures, ACopyThatFoundNoRoomBesideAnotherIsTriedAgainAlone) {
    for (const int inFlight : {2, 1}) {
        Sandbox box;
        ASSERT_TRUE(WriteFileBytes(box.Src("big.bin"), Pattern(3 * kCopyBufferSize, 4)));
        ASSERT_TRUE(WriteFileBytes(box.Src("c.txt"), "charlie"));
        FullWhileBigIsWritten faults(inFlight > 1);
        RecordingProgress progress;
        CopyTuning tuning;
        tuning.filesInFlight = inFlight;

        const CopyRunResult result = Backup(box.Src(), box.Dst(), Overwrite(false), progress, &faults, tuning);

        EXPECT_THAT(result.failures, ElementsAre(Line("Stream write error", box.Dst("big.bin"), ERROR_DISK_FULL)))
            << inFlight;
        EXPECT_EQ(result.copied, 1) << inFlight;
        EXPECT_EQ(ReadFileBytes(box.Dst("c.txt")), "charlie") << inFlight;
        EXPECT_THAT(Names(box.Dst()), ElementsAre("c.txt")) << inFlight;
        EXPECT_EQ(faults.smallTries, inFlight) << inFlight;
        EXPECT_EQ(faults.bigTries, inFlight) << inFlight;
        EXPECT_THAT(progress.finalPositions, ElementsAre(10000)) << inFlight;
    }
}

INSTANTIATE_TEST_SUITE_P(ReadOrWrite, FailurePartWay,
                         ::testing::Values(PartWay::Read, PartWay::Write, PartWay::OutOfMemory),
                         [](const ::testing::TestParamInfo<PartWay>& info) {
                             return std::string(info.param == PartWay::Read    ? "Read"
                                                : info.param == PartWay::Write ? "Write"
                                                                               : "OutOfMemory");
                         });

// Changes the source from outside the platform's sharing rules, which keep
// every Windows writer out while the copy reads it: a Unix process beside
// Wine, as the server's own side of a share could. Runs `command` on the
// source's Unix name before the second buffer is read.
class ChangeFromOutside : public CopyFaults {
public:
    explicit ChangeFromOutside(std::string command) : command_(std::move(command)) {}
    std::uint32_t FailRead(const std::string& sourceFile, std::uint64_t offset) override {
        if (offset != kCopyBufferSize) return 0;
        WIN32_FILE_ATTRIBUTE_DATA before{}, now{};
        GetFileAttributesExA(sourceFile.c_str(), GetFileExInfoStandard, &before);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        std::string line = "/bin/sh -c \"" + command_ + "\"";
        started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                 &process) != FALSE;
        if (!started) return 0;
        // Wine gives no handle to wait on for a Unix process: watch the size.
        changed = WaitFor([&] {
            GetFileAttributesExA(sourceFile.c_str(), GetFileExInfoStandard, &now);
            return now.nFileSizeLow != before.nFileSizeLow;
        });
        return 0;
    }
    bool started = false;
    bool changed = false;

private:
    static bool WaitFor(const std::function<bool()>& condition) {
        for (int i = 0; i < 250 && !condition(); ++i) Sleep(20);
        return condition();
    }
    std::string command_;
};

TEST(CopyRunFailures, ASourceThatChangesWhileItIsCopiedIsReportedAndNothingIsLost) {
    for (const char* change : {"printf more >> '%s'", "truncate -s 100 '%s'"}) {
        Sandbox box;
        ASSERT_TRUE(WriteFileBytes(box.Src("grows.bin"), Pattern(3 * kCopyBufferSize, 1)));
        ASSERT_TRUE(WriteFileBytes(box.Dst("grows.bin"), "the earlier copy"));
        const std::string unix = UnixFileName(box.Src("grows.bin"));
        if (unix.empty()) GTEST_SKIP() << "no Unix side to change the file from";
        ChangeFromOutside faults(FormatMessageText(change, unix));
        RecordingProgress progress;

        const CopyRunResult result = Backup(box.Src(), box.Dst(), Overwrite(true), progress, &faults);

        if (!faults.started) GTEST_SKIP() << "no Unix process can be started";
        ASSERT_TRUE(faults.changed) << change;
        EXPECT_THAT(result.failures, ElementsAre("File changed while it was copied " + box.Src("grows.bin")));
        EXPECT_EQ(result.copied, 0);
        EXPECT_EQ(ReadFileBytes(box.Dst("grows.bin")), "the earlier copy");
        EXPECT_THAT(Names(box.Dst()), ElementsAre("grows.bin"));
    }
}

// A receiver ends the run as the end of the session does, at the chosen call
// (the nth StepIt, or the first KeepAlive from the nth on at which `ready`
// holds; 0: never), having marked the temporary files the run has open to go
// with their handles, and read its tally. `cut` is set then.
class CutOffAt : public RecordingProgress {
public:
    enum class Call { StepIt, KeepAlive };
    CutOffAt(Call call, int nth, std::function<bool()> ready = nullptr)
        : call_(call), nth_(nth), ready_(std::move(ready)) {}
    void Track(RunInHand& run) override { run_ = &run; }
    void StepIt() override {
        RecordingProgress::StepIt();
        if (call_ == Call::StepIt && static_cast<int>(positions.size()) == nth_) CutOff();
    }
    void KeepAlive() override {
        RecordingProgress::KeepAlive();
        // Once cut off, the run still looks alive while its files end.
        if (call_ != Call::KeepAlive || nth_ == 0 || keepAlives < nth_ || marked >= 0) return;
        if (!ready_ || ready_()) CutOff();
    }
    int marked = -1;
    CopyRunResult tally;
    std::size_t captionsAtCut = 0;
    KernelHandle cut{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    ULONGLONG cutOffMs = 0;  // how long the run's CutOff took
    std::function<void()> afterCut;

private:
    void CutOff() {
        const ULONGLONG began = GetTickCount64();
        marked = run_->CutOff();
        cutOffMs = GetTickCount64() - began;
        tally = run_->SoFar();
        captionsAtCut = captions.size();
        SetEvent(cut.Get());
        if (afterCut) afterCut();
        throw RunCutOff();
    }
    Call call_;
    int nth_;
    std::function<bool()> ready_;
    RunInHand* run_ = nullptr;
};

// Holds each flush, on whatever thread it is made, until `release` is set
// (10 s at most); counts the flushes begun.
class HeldFlushes {
public:
    explicit HeldFlushes(HANDLE release) : previous_(std::exchange(FlushFileBuffersCall, &Held)) {
        release_ = release;
        begun = 0;
    }
    ~HeldFlushes() { FlushFileBuffersCall = previous_; }
    HeldFlushes(const HeldFlushes&) = delete;
    HeldFlushes& operator=(const HeldFlushes&) = delete;

    static inline std::atomic<int> begun{0};

private:
    static BOOL WINAPI Held(HANDLE file) {
        ++begun;
        WaitForSingleObject(release_, 10000);
        return FlushFileBuffers(file);
    }
    static inline HANDLE release_ = nullptr;
    BOOL(WINAPI* previous_)(HANDLE);
};

// Three files of two buffers each. Wherever the run is ended, the copies in
// place are those of the tally the receiver read at that moment, no entry is
// begun after it, and no temporary file is left. A rename that hangs is
// waited for about kPlacingWaitMs, and is then counted as not known.
TEST(CopyRunFailures, ACutOffEndsTheRunWithItsTallyAndNoTemporaryFile) {
    struct Row {
        const char* where;
        CutOffAt::Call call;
        int nth;
        bool slowFlush;
        bool hangingRename;
    };
    const Row rows[] = {
        {"when the first file is done", CutOffAt::Call::StepIt, 1, false, false},
        {"when the last file is done", CutOffAt::Call::StepIt, 3, false, false},
        {"while copies wait for their flush", CutOffAt::Call::KeepAlive, 1, true, false},
        {"while a rename hangs", CutOffAt::Call::KeepAlive, 1, false, true},
    };
    for (const Row& row : rows) {
        Sandbox box;
        for (unsigned i = 0; i < 3; ++i) {
            ASSERT_TRUE(WriteFileBytes(box.Src("file" + std::to_string(i)), Pattern(2 * kCopyBufferSize, i)));
        }
        // A flush that is left out is never waited for; a held one lasts
        // until the run is cut off, once every copy in flight waits for it.
        // A hanging rename lasts until the run is cut off, once it hangs.
        const int inFlight = std::min(3, FilesInFlightUnderTest());
        std::optional<HangingRename> hang;
        if (row.hangingRename) hang.emplace();
        CutOffAt progress(row.call, row.nth, [inFlight, &hang] {
            return hang ? WaitForSingleObject(hang->hanging.Get(), 0) == WAIT_OBJECT_0 : HeldFlushes::begun >= inFlight;
        });
        const HeldFlushes held(progress.cut.Get());
        if (hang) progress.afterCut = [&hang] { SetEvent(hang->release.Get()); };
        WithoutFlushes noFlushes;
        const CopyRunResult result =
            Backup(box.Src(), box.Dst(), Overwrite(false), progress, row.slowFlush ? nullptr : &noFlushes);

        EXPECT_TRUE(result.cutOff) << row.where;
        if (row.slowFlush) {
            // Every copy in flight was written and held for its flush.
            EXPECT_EQ(progress.marked, inFlight) << row.where;
            EXPECT_EQ(progress.tally.copied, 0) << row.where;
        }
        EXPECT_EQ(progress.tally.unknown, row.hangingRename ? 1 : 0) << row.where;
        if (row.hangingRename) {
            EXPECT_GE(progress.cutOffMs + 50, kPlacingWaitMs) << row.where;
            EXPECT_LE(progress.cutOffMs, kPlacingWaitMs + 1000) << row.where;
        }
        EXPECT_THAT(result.failures, IsEmpty()) << row.where;
        EXPECT_EQ(result.copied, progress.tally.copied) << row.where;
        // A rename that ended after the cut-off has its copy in place, kept.
        EXPECT_EQ(Names(box.Dst()).size(), static_cast<std::size_t>(progress.tally.copied + progress.tally.unknown))
            << row.where;
        for (const std::string& name : Names(box.Dst())) EXPECT_FALSE(IsTemporaryName(name)) << row.where;
        EXPECT_EQ(progress.captions.size(), progress.captionsAtCut) << row.where;
        EXPECT_THAT(progress.finalPositions, IsEmpty()) << row.where;
    }
}

TEST(CopyRunFailures, BuffersAreAtMost61440BytesAndCoverTheWholeFile) {
    Sandbox box;
    const std::string content = Pattern(2 * kCopyBufferSize + 5, 4);
    ASSERT_TRUE(WriteFileBytes(box.Src("f"), content));
    FailAt never(PartWay::Read, std::string(), 1);
    RecordingProgress progress;

    const CopyRunResult result = Backup(box.Src(), box.Dst(), Overwrite(false), progress, &never);

    EXPECT_THAT(result.failures, IsEmpty());
    EXPECT_EQ(never.reads, 3u);
    EXPECT_EQ(ReadFileBytes(box.Dst("f")), content);
}

// Refuses the renames that put copies in place, as another program's open
// handle does: `times` times (-1: for good) with `error`. It may turn the old
// copy read-only at the first refusal. With `scan` the file system takes no
// rename by handle, so that each copy is closed and renamed by its path, and
// a scanner opens the closed copy at the first refusal and lets go of it only
// once the run's removal of it has been refused twice: a removal that is not
// tried again for a while gets a try or two at most. With handleRefusal every
// rename by handle is refused with it (and counted), as some redirectors do,
// while renames by path go by the plan.
class RefusedRenames {
public:
    struct Plan {
        int times;
        DWORD error;
        bool scan;
        bool protect;
        DWORD handleRefusal;
    };
    explicit RefusedRenames(Plan plan)
        : byHandle_(std::exchange(RenameOpenFileCall, &ByHandle)),
          byPath_(std::exchange(MoveFileExCall, &ByPath)),
          removals_(std::exchange(DeleteFileCall, &Remove)) {
        plan_ = plan;
        attempts = 0;
        removalsRefused = 0;
        scanned_.clear();
        previousByHandle_ = byHandle_;
        previousByPath_ = byPath_;
    }
    ~RefusedRenames() {
        RenameOpenFileCall = byHandle_;
        MoveFileExCall = byPath_;
        DeleteFileCall = removals_;
        if (scan_ != INVALID_HANDLE_VALUE) CloseHandle(std::exchange(scan_, INVALID_HANDLE_VALUE));
    }
    RefusedRenames(const RefusedRenames&) = delete;
    RefusedRenames& operator=(const RefusedRenames&) = delete;

    static inline std::atomic<int> attempts{0};
    static inline int removalsRefused = 0;  // of the scanned copy while the scanner held it

private:
    // Whether this try is refused; plays the scanner and protects the old copy.
    static bool Refused(LPCWSTR from, LPCWSTR to) {
        // The copies in flight are renamed side by side.
        const std::lock_guard<std::mutex> hold(lock_);
        if (plan_.times >= 0 && attempts++ >= plan_.times) return false;
        if (plan_.times < 0) ++attempts;
        if (plan_.scan && scanned_.empty()) {
            scanned_ = from;
            scan_ = CreateFileW(from, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        }
        if (plan_.protect) SetFileAttributesW(to, FILE_ATTRIBUTE_READONLY);
        SetLastError(plan_.error);
        return true;
    }
    static BOOL WINAPI ByHandle(HANDLE file, LPCWSTR to, BOOL replace) {
        if (plan_.handleRefusal) {
            ++attempts;
            SetLastError(plan_.handleRefusal);
            return FALSE;
        }
        if (plan_.scan) {
            SetLastError(ERROR_NOT_SUPPORTED);
            return FALSE;
        }
        return Refused(nullptr, to) ? FALSE : previousByHandle_(file, to, replace);
    }
    static BOOL WINAPI ByPath(LPCWSTR from, LPCWSTR to, DWORD flags) {
        return Refused(from, to) ? FALSE : previousByPath_(from, to, flags);
    }
    static BOOL WINAPI Remove(LPCWSTR path) {
        const BOOL removed = ::DeleteFileW(path);
        const DWORD error = GetLastError();
        const std::lock_guard<std::mutex> hold(lock_);
        if (!removed && scan_ != INVALID_HANDLE_VALUE && path == scanned_ && ++removalsRefused == 2) {
            CloseHandle(std::exchange(scan_, INVALID_HANDLE_VALUE));
        }
        SetLastError(error);
        return removed;
    }

    static inline Plan plan_{};
    static inline std::mutex lock_;
    static inline std::wstring scanned_;
    static inline HANDLE scan_ = INVALID_HANDLE_VALUE;
    static inline BOOL(WINAPI* previousByHandle_)(HANDLE, LPCWSTR, BOOL) = nullptr;
    static inline BOOL(WINAPI* previousByPath_)(LPCWSTR, LPCWSTR, DWORD) = nullptr;
    BOOL(WINAPI* byHandle_)(HANDLE, LPCWSTR, BOOL);
    BOOL(WINAPI* byPath_)(LPCWSTR, LPCWSTR, DWORD);
    BOOL(WINAPI* removals_)(LPCWSTR);
};

// The rename into place, refused by another program: tried again while the
// refusal lasts, for about stepLimitMs at most, with the receiver kept alive.
TEST(CopyRunRetries, ARefusedRenameIsTriedAgainForAWhile) {
    struct Row {
        const char* what;
        RefusedRenames::Plan plan;
        int files;
        bool existing;      // an old copy of each file is there (overwrite on)
        int placed;         // copies put in place
        DWORD reason;       // of each failure
        int attempts;       // renames tried in all (0: not counted)
        DWORD longestMs;    // the waits the run promises at most
        bool shortWaits;    // the test's waits (400 ms a step), else the run's own (5 s)
        bool cutOff;        // the receiver ends the run once a rename has been refused
    };
    const Row rows[] = {
        {"a new copy refused three times", {3, ERROR_SHARING_VIOLATION, false, false, 0}, 1, false, 1, 0, 4, 400, true,
         false},
        {"a replacement refused three times", {3, ERROR_ACCESS_DENIED, false, false, 0}, 1, true, 1, 0, 4, 400, true,
         false},
        {"a replacement refused for good", {-1, ERROR_SHARING_VIOLATION, false, false, 0}, 1, true, 0,
         ERROR_SHARING_VIOLATION, 0, 5000, false, false},
        {"the old copy turns read-only", {-1, ERROR_ACCESS_DENIED, false, true, 0}, 1, true, 0, ERROR_ACCESS_DENIED, 1,
         0, true, false},
        // The rename's step, then the removal's.
        {"renamed by path, a scanner holds the closed copy", {-1, ERROR_SHARING_VIOLATION, true, false, 0}, 1, false, 0,
         ERROR_SHARING_VIOLATION, 0, 2 * 400, true, false},
        // Three steps wait in vain, then each later one waits once.
        {"every replacement refused for good", {-1, ERROR_ACCESS_DENIED, false, false, 0}, 10, true, 0,
         ERROR_ACCESS_DENIED, 0, 3 * 400 + 7 * 20, true, false},
        // Under the run's own 5 s, so that waiting the step out would show.
        {"the session ends in the wait", {-1, ERROR_SHARING_VIOLATION, false, false, 0}, 1, true, 0, 0, 0, 0, false,
         true},
        // One rename by handle, then three by path: the first tells for the run.
        {"a redirector refuses renames by handle", {0, 0, false, false, ERROR_ACCESS_DENIED}, 3, false, 3, 0, 4, 400,
         true, false},
    };
    for (const Row& row : rows) {
        // The run's own 5 s is waited out once, with one file in flight.
        if (!row.shortWaits && !row.cutOff && FilesInFlightUnderTest() > 1) continue;
        Sandbox box;
        for (int i = 0; i < row.files; ++i) {
            const std::string name = "f" + std::to_string(i) + ".txt";
            ASSERT_TRUE(WriteFileBytes(box.Src(name), "new " + name));
            if (row.existing) {
                ASSERT_TRUE(WriteFileBytes(box.Dst(name), "old " + name));
            }
        }
        CutOffAt progress(CutOffAt::Call::KeepAlive, row.cutOff ? 1 : 0, [] { return RefusedRenames::attempts > 0; });
        WithoutFlushes noFlushes;
        const ULONGLONG began = GetTickCount64();
        CopyRunResult result;
        ULONGLONG keepAliveGap = 0;
        {
            const RefusedRenames refused(row.plan);
            result = Backup(box.Src(), box.Dst(), Overwrite(true), progress, &noFlushes,
                             row.shortWaits ? ShortWaits() : CopyTuning());
            keepAliveGap = progress.LongestKeepAliveGapUntilNow();
            // Copies in flight together may each find the rename by handle refused.
            if (row.attempts && (row.files == 1 || FilesInFlightUnderTest() == 1)) {
                EXPECT_EQ(RefusedRenames::attempts.load(), row.attempts) << row.what;
            }
            if (row.plan.scan) {
                EXPECT_EQ(RefusedRenames::removalsRefused, 2) << row.what;
            }
        }
        const ULONGLONG took = GetTickCount64() - began;

        EXPECT_EQ(result.cutOff, row.cutOff) << row.what;
        EXPECT_EQ(result.copied, row.placed) << row.what;
        const int failed = row.cutOff ? 0 : row.files - row.placed;
        EXPECT_EQ(result.failures.size(), static_cast<std::size_t>(failed)) << row.what;
        for (int i = 0; i < failed && i < static_cast<int>(result.failures.size()); ++i) {
            EXPECT_EQ(result.failures[i], Line("Cannot create file", box.Dst("f" + std::to_string(i) + ".txt"),
                                               row.reason))
                << row.what;
        }
        std::vector<std::string> names;
        for (int i = 0; i < row.files; ++i) {
            const std::string name = "f" + std::to_string(i) + ".txt";
            if (!row.existing && i >= row.placed) continue;
            names.push_back(name);
            EXPECT_EQ(ReadFileBytes(box.Dst(name)), (i < row.placed ? "new " : "old ") + name) << row.what;
        }
        // No temporary file or folder is left, however the rename ended.
        EXPECT_EQ(Names(box.Dst()), names) << row.what;
        EXPECT_LE(took, row.longestMs + kSlowMachineMarginMs) << row.what;
        if (!row.shortWaits && !row.cutOff) {
            EXPECT_GE(took, CopyTuning().retries.stepLimitMs) << row.what;
        }
        EXPECT_LE(keepAliveGap, kLongestKeepAliveGapMs) << row.what;
    }
}

// The give-up after lasting refusals holds for one kind of step, and ends
// with any success of that kind, also one at the first try.
TEST(CopyRunRetries, GivingUpHoldsForOneKindOfStepUntilItSucceeds) {
    RetryTiming timing;
    timing.firstWaitMs = 10;
    timing.longestWaitMs = 20;
    timing.stepLimitMs = 120;
    Retries retries(timing);
    const Pause pause = [](DWORD ms) { Sleep(ms); };
    // Refused `refusals` times (-1: for good), then done.
    const auto step = [&](RetryStep kind, int refusals) {
        int tries = 0;
        return retries.Run(kind, pause, [&] {
            return refusals < 0 || tries++ < refusals ? static_cast<DWORD>(ERROR_SHARING_VIOLATION)
                                                      : static_cast<DWORD>(ERROR_SUCCESS);
        });
    };
    const auto lastingRefusals = [&](RetryStep kind) {
        for (int i = 0; i < timing.fruitlessStepsBeforeGivingUp; ++i) {
            ASSERT_EQ(step(kind, -1), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        }
    };
    // Old copies held open: the removals give up, the renames still wait.
    lastingRefusals(RetryStep::Remove);
    EXPECT_EQ(step(RetryStep::Remove, 3), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(step(RetryStep::Rename, 3), static_cast<DWORD>(ERROR_SUCCESS));
    lastingRefusals(RetryStep::Rename);
    EXPECT_EQ(step(RetryStep::Rename, 3), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    // A rename that goes through at once: the next refused one waits again.
    EXPECT_EQ(step(RetryStep::Rename, 0), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(step(RetryStep::Rename, 3), static_cast<DWORD>(ERROR_SUCCESS));
}

// Renames a folder away once the chosen file is done: a share that drops
// during the run takes its folder out of reach.
class FolderGoesAway : public RecordingProgress {
public:
    FolderGoesAway(std::string folder, int afterFiles) : folder_(std::move(folder)), after_(afterFiles) {}
    void StepIt() override {
        RecordingProgress::StepIt();
        if (static_cast<int>(positions.size()) == after_) {
            moved = MoveFileA(folder_.c_str(), (folder_ + "-gone").c_str()) != FALSE;
        }
    }
    bool moved = false;

private:
    std::string folder_;
    int after_;
};

// The destination share drops once `at`'s copy begins to be written: every
// write and every probe of the folder times out, as the redirector's requests
// do, for `forMs` (for good when 0). A write of `late`, begun before the
// drop, is answered only once the run has given the folder up, with a failure
// of its own.
class DestinationDrops : public WithoutFlushes {
public:
    DestinationDrops(std::string dest, std::string at, DWORD forMs, std::string late = std::string())
        : dest_(std::move(dest)), at_(std::move(at)), late_(std::move(late)), forMs_(forMs) {}
    std::uint32_t FailWrite(const std::string& file, std::uint64_t offset) override {
        if (file == at_ && offset == 0) {
            ULONGLONG none = 0;
            droppedAt_.compare_exchange_strong(none, GetTickCount64());
        }
        if (file == late_ && offset == 0) {
            for (int i = 0; i < 1000 && !droppedAt_.load(); ++i) Sleep(10);
            const ULONGLONG answer = droppedAt_.load() + kFolderBackWithinMs + kLateMs;
            while (GetTickCount64() < answer) Sleep(10);
            return ERROR_WRITE_FAULT;
        }
        if (!Dropped()) return 0;
        ++refused;
        return ERROR_SEM_TIMEOUT;
    }
    std::uint32_t FolderError(const std::string& dir) override {
        if (dir != dest_) return 0;
        ++probes;
        return Dropped() ? ERROR_SEM_TIMEOUT : 0;
    }

    std::atomic<int> refused{0}, probes{0};

private:
    static constexpr DWORD kLateMs = 1000;
    bool Dropped() const {
        const ULONGLONG at = droppedAt_.load();
        return at != 0 && (forMs_ == 0 || GetTickCount64() < at + forMs_);
    }
    std::string dest_, at_, late_;
    DWORD forMs_;
    std::atomic<ULONGLONG> droppedAt_{0};
};

// Which failures may mean that a folder of the run is out of reach (it is
// probed), and which of those may pass in a moment (the file is tried again).
TEST(CopyRunUnreachable, ErrorsOfDevicesAndNetworksThatAreGoneOrMayBeBack) {
    const struct {
        Outage outage;
        std::vector<DWORD> errors;
    } rows[] = {
        // ERROR_NOACCESS is Wine's answer to a FUSE EIO, no redirector's.
        {Outage::None, {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION, ERROR_DISK_FULL, ERROR_WRITE_FAULT,
                        ERROR_IO_DEVICE, ERROR_NOACCESS}},
        {Outage::Gone, {ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND}},
        // Devices: an unplugged USB disk gives ERROR_DEVICE_NOT_CONNECTED.
        {Outage::MayBeBack, {ERROR_NOT_READY, ERROR_GEN_FAILURE, ERROR_DEVICE_NOT_CONNECTED, kErrorNoSuchDevice,
                             ERROR_INVALID_DRIVE}},
        // Networks: a request that timed out gives ERROR_SEM_TIMEOUT.
        {Outage::MayBeBack, {ERROR_SEM_TIMEOUT, ERROR_NETNAME_DELETED, ERROR_UNEXP_NET_ERR, ERROR_BAD_NET_RESP,
                             ERROR_NETWORK_BUSY, ERROR_REQ_NOT_ACCEP, ERROR_SHARING_PAUSED, ERROR_VC_DISCONNECTED,
                             ERROR_DEV_NOT_EXIST, ERROR_REM_NOT_LIST, ERROR_BAD_NETPATH, ERROR_BAD_NET_NAME,
                             ERROR_NOT_CONNECTED, ERROR_NO_NET_OR_BAD_PATH, ERROR_CONNECTION_UNAVAIL,
                             ERROR_CONNECTION_REFUSED, ERROR_CONNECTION_ABORTED, ERROR_NETWORK_UNREACHABLE,
                             ERROR_HOST_UNREACHABLE, ERROR_PORT_UNREACHABLE}},
    };
    for (const auto& row : rows) {
        for (const DWORD error : row.errors) {
            EXPECT_EQ(OutageOf(error), row.outage) << error << " " << SystemErrorText(error);
        }
    }
}

// A share that drops for a moment while files are in flight loses no file's
// backup: the folder is probed until it answers again, and the files that
// failed meanwhile are tried once more, alone, after the others.
TEST(CopyRunUnreachable, AShareThatDropsForAMomentLosesNothing) {
    Sandbox box;
    constexpr int kFiles = 12;
    std::vector<std::string> names;
    for (int i = 0; i < kFiles; ++i) {
        names.push_back("f" + std::to_string(10 + i));
        ASSERT_TRUE(WriteFileBytes(box.Src(names.back()), Pattern(100 + i, i)));
    }
    DestinationDrops faults(box.Dst(), box.Dst("f13"), 500);
    RecordingProgress progress;

    const CopyRunResult result = Backup(box.Src(), box.Dst(), Overwrite(false), progress, &faults);

    EXPECT_THAT(result.failures, IsEmpty());
    EXPECT_EQ(result.copied, kFiles);
    EXPECT_EQ(result.notTried, 0);
    EXPECT_EQ(Names(box.Dst()), names);
    for (int i = 0; i < kFiles; ++i) EXPECT_EQ(ReadFileBytes(box.Dst(names[i])), Pattern(100 + i, i)) << names[i];
    EXPECT_GE(faults.refused, 1);
    EXPECT_GE(faults.probes, 3);  // the start's, and more than one in the drop
    EXPECT_EQ(progress.positions.size(), static_cast<std::size_t>(kFiles));
    EXPECT_THAT(progress.finalPositions, ElementsAre(10000));
}

// A folder of the run that cannot be reached (a share that is off, or one
// that drops during the run) stops the run with one line for the folder: the
// copies already in place stay and are counted, the rest counts as not tried.
TEST(CopyRunUnreachable, AFolderOutOfReachIsOneFailureAndTheRestIsNotTried) {
    {
        // A server that does not answer: nothing is tried.
        Sandbox box;
        for (const char* name : {"1", "2", "3"}) ASSERT_TRUE(WriteFileBytes(box.Src(name), name));
        ASSERT_TRUE(CreateDirectoryA(box.Src("sub").c_str(), nullptr));
        const std::string off = "\\\\zelvo-nas-off\\backup\\daily";
        RecordingProgress progress;
        const CopyRunResult result = Backup(box.Src(), off, Overwrite(false), progress);
        ASSERT_EQ(result.failures.size(), 1u);
        EXPECT_EQ(result.failures[0].rfind("目的目录[" + off + "]无法访问 (", 0), 0u) << result.failures[0];
        EXPECT_EQ(result.copied, 0);
        EXPECT_EQ(result.notTried, 3);
        EXPECT_EQ(result.directories, 1);
        EXPECT_EQ(progress.positions.size(), 4u);
        EXPECT_THAT(progress.finalPositions, ElementsAre(10000));
    }
    {
        // A share that drops for good while eight files are in flight: one
        // line, however each copy in flight ended after the run gave up.
        Sandbox box;
        for (int i = 0; i < 12; ++i) ASSERT_TRUE(WriteFileBytes(box.Src("f" + std::to_string(10 + i)), "x"));
        DestinationDrops faults(box.Dst(), box.Dst("f13"), 0, box.Dst("f12"));
        RecordingProgress progress;
        CopyTuning tuning;
        tuning.filesInFlight = 8;
        const CopyRunResult result = Backup(box.Src(), box.Dst(), Overwrite(false), progress, &faults, tuning);
        EXPECT_THAT(result.failures,
                    ElementsAre("目的目录[" + box.Dst() + "]无法访问 (" + SystemErrorText(ERROR_SEM_TIMEOUT) + ")"));
        EXPECT_LE(result.copied, 10);  // neither f12 nor f13
        EXPECT_EQ(Names(box.Dst()).size(), static_cast<std::size_t>(result.copied));
        EXPECT_EQ(result.copied + result.notTried, 12);
        EXPECT_THAT(progress.finalPositions, ElementsAre(10000));
    }
    {
        // A source share (Wine serves \\computer\share from its prefix's
        // dosdevices\unc) whose computer goes once the second file is done.
        char prefix[MAX_PATH];
        const DWORD length = GetEnvironmentVariableA("WINEPREFIX", prefix, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) GTEST_SKIP() << "no Wine prefix to serve a UNC share from";
        std::string unc = std::string("Z:") + prefix + "/dosdevices/unc";
        for (auto& c : unc) c = c == '/' ? '\\' : c;
        CreateDirectoryA(unc.c_str(), nullptr);
        const std::string host = "zelvo-src-" + std::to_string(GetCurrentProcessId());
        ASSERT_TRUE(CreateDirectoryA((unc + "\\" + host).c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA((unc + "\\" + host + "\\share").c_str(), nullptr));
        const std::string share = "\\\\" + host + "\\share";
        for (int i = 0; i < 20; ++i) ASSERT_TRUE(WriteFileBytes(share + "\\f" + std::to_string(100 + i), "x"));
        Sandbox box;
        FolderGoesAway progress(unc + "\\" + host, 2);
        const CopyRunResult result = Backup(share, box.Dst(), Overwrite(false), progress);
        RemoveTree(unc + "\\" + host + "-gone");
        RemoveTree(unc + "\\" + host);
        ASSERT_TRUE(progress.moved);
        ASSERT_EQ(result.failures.size(), 1u);
        EXPECT_EQ(result.failures[0].rfind("源目录[" + share + "]无法访问 (", 0), 0u) << result.failures[0];
        EXPECT_EQ(static_cast<std::size_t>(result.copied), Names(box.Dst()).size());
        EXPECT_GE(result.copied, 2);
        EXPECT_EQ(result.copied + result.notTried, 20);
        EXPECT_THAT(progress.finalPositions, ElementsAre(10000));
    }
}

}  // namespace
