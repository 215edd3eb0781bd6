#include "serial/PortsFolder.h"

#include "serial/LivenessMark.h"
#include "testsupport/ChildProcess.h"
#include "testsupport/TempFolder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// Sets an environment variable (nullptr: unsets it) for as long as the object lives.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name))
            m_old = old, m_had = true;
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedEnv() { m_had ? setenv(m_name, m_old.c_str(), 1) : unsetenv(m_name); }

private:
    const char* m_name;
    std::string m_old;
    bool m_had = false;
};

TEST(PortsFolder, TheUsersFolderFollowsXdgThenHome) {
    const struct {
        const char* xdg;
        const char* home;
        std::string path;
    } cases[] = {
        {"/x", "/h", "/x/MorvikSerialDemo/ports"},
        {nullptr, "/h", "/h/.config/MorvikSerialDemo/ports"},
        {"relative", "/h", "/h/.config/MorvikSerialDemo/ports"}, // only absolute paths count
        {"", "relative", ""},
        {nullptr, nullptr, ""},
    };
    for (const auto& c : cases) {
        const ScopedEnv xdg("XDG_CONFIG_HOME", c.xdg);
        const ScopedEnv home("HOME", c.home);
        const PortsFolder users;
        EXPECT_EQ(c.path, users.Path()) << (c.xdg ? c.xdg : "-") << " " << (c.home ? c.home : "-");
        EXPECT_EQ(c.path.empty() ? "" : c.path + "/COM3.lock", users.EntryPath(3, ".lock"));
        EXPECT_EQ(PortsFolder::Entry::Kind::None, users.Read(3).kind);
        // A folder given wins over the environment.
        EXPECT_EQ("/given/COM12", PortsFolder("/given").EntryPath(12));
    }
}

TEST(PortsFolder, MadeForItsOwnerOnlyAndEntriesReplacedWhole) {
    const TempFolder root;
    const std::string top = root / "config";
    const PortsFolder folder(top + "/MorvikSerialDemo/ports");
    ASSERT_TRUE(folder.Create());
    ASSERT_TRUE(folder.Create()); // there already: nothing to do
    for (const std::string& made : {top, top + "/MorvikSerialDemo", folder.Path()}) {
        struct stat st {};
        ASSERT_EQ(0, stat(made.c_str(), &st)) << made;
        EXPECT_EQ(0700u, st.st_mode & 07777u) << made;
    }
    std::ofstream(root / "file") << "x";
    errno = 0;
    EXPECT_FALSE(PortsFolder(root / "file/ports").Create());
    EXPECT_EQ(ENOTDIR, errno);

    // A link replaced by another, over a dangling one, leaves one entry and no temporary name.
    ASSERT_TRUE(folder.Link(2, "/nonexistent/one"));
    ASSERT_TRUE(folder.Link(2, "/nonexistent/two"));
    EXPECT_FALSE(folder.LinkNew(2, "/nonexistent/three"));
    EXPECT_EQ(EEXIST, errno);
    PortsFolder::Entry entry = folder.Read(2);
    EXPECT_EQ(PortsFolder::Entry::Kind::Link, entry.kind);
    EXPECT_EQ("/nonexistent/two", entry.target);
    // A replacement that fails halfway keeps the old entry and says why.
    EXPECT_FALSE(PortsFolder::Replace(folder.EntryPath(2), [](const char* temporary) {
        std::ofstream(temporary) << "half";
        errno = ENOSPC;
        return false;
    }));
    EXPECT_EQ(ENOSPC, errno);
    EXPECT_EQ("/nonexistent/two", folder.Read(2).target);
    EXPECT_EQ(1, std::distance(fs::directory_iterator(folder.Path()), fs::directory_iterator()));

    // Only our own link is removed; a node that is no link is read as such.
    folder.RemoveLink(2, "/nonexistent/one");
    EXPECT_EQ(PortsFolder::Entry::Kind::Link, folder.Read(2).kind);
    folder.RemoveLink(2, "/nonexistent/two");
    entry = folder.Read(2);
    EXPECT_EQ(PortsFolder::Entry::Kind::None, entry.kind);
    EXPECT_EQ(folder.EntryPath(2), entry.path);
    std::ofstream(folder.EntryPath(3)) << "x";
    EXPECT_EQ(PortsFolder::Entry::Kind::Other, folder.Read(3).kind);
}

// The mark beside an entry speaks for the link it names: alive while its holder runs, ended
// however the holder ended (a kill -9 leaves the file but not the lock), silent for another
// link. One holder at a time.
TEST(PortsFolder, ALinkWhoseMarkWasLetGoIsKnownAsEnded) {
    const TempFolder root;
    const PortsFolder folder(root.Path());
    const std::string markPath = folder.EntryPath(3, LivenessMark::kSuffix);
    using State = LivenessMark::State;
    EXPECT_EQ(State::None, LivenessMark::Of(markPath, "/dev/pts/9"));
    {
        LivenessMark mark;
        ASSERT_TRUE(mark.Take(markPath));
        EXPECT_EQ("", mark.Previous());
        ASSERT_TRUE(mark.Vouch("/dev/pts/9"));
        EXPECT_EQ(State::Alive, LivenessMark::Of(markPath, "/dev/pts/9"));
        EXPECT_EQ(State::None, LivenessMark::Of(markPath, "/dev/pts/19"));
        LivenessMark second;
        EXPECT_FALSE(second.Take(markPath));
        EXPECT_EQ(EWOULDBLOCK, errno);
    } // let go as a device that stops does: nothing left
    EXPECT_NE(0, access(markPath.c_str(), F_OK));

    // A holder killed with its link in place.
    ASSERT_TRUE(folder.Link(3, "/dev/pts/9"));
    ChildProcess killed([&] {
        auto* mark = new LivenessMark(); // never dropped: the end lets it go
        return mark->Take(markPath) && mark->Vouch("/dev/pts/9") ? 0 : 1;
    });
    const int status = killed.Wait(5000);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(State::Ended, LivenessMark::Of(markPath, "/dev/pts/9"));
    EXPECT_TRUE(folder.Read(3).ended);
    ASSERT_TRUE(folder.Link(3, "/dev/pts/19")); // linked anew: the mark says nothing of it
    EXPECT_FALSE(folder.Read(3).ended);

    // The next holder learns what the last one linked; no regular file is no mark.
    LivenessMark next;
    ASSERT_TRUE(next.Take(markPath));
    EXPECT_EQ("/dev/pts/9", next.Previous());
    next.Drop();
    ASSERT_EQ(0, mkfifo(markPath.c_str(), 0600));
    EXPECT_EQ(State::None, LivenessMark::Of(markPath, ""));
    EXPECT_FALSE(next.Take(markPath));
}

} // namespace
