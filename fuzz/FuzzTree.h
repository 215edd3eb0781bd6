#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// A small tree of files, folders and links that a fuzzer's input describes, made below a folder
// of the harness's own (a FakeMachine's root), one entry a line:
//
//   D path           a folder
//   F path text      a file holding text
//   L path target    a symbolic link
//   P path           a FIFO: only as ports/COMn, where nothing reads a file's contents
//   M path octal     the mode of what path names (not through a link)
//   X text           anything else, by its letter: kept for the harness (Notes('X'))
//
// Paths are relative to the root; missing folders are made, "." and ".." are dropped. In paths,
// texts and targets \n, \t, \\ and \xHH stand for their bytes, and these tokens are replaced:
// {root} the root, {pid} this process's id, and for each real device node NAME of the table
// below (null, zero, tty, ptmx, tty0, pty: a pseudo-terminal of the harness's own) {NAME} its
// number as sysfs writes it ("136:3"), {NAME.nr} as a /proc stat line's tty_nr, {NAME.path} its
// path. A link's target "@NAME" is that node. An absolute target is taken below the root, and a
// relative one climbs no higher than the root: nothing made leads outside the root but to those
// nodes. Links to them, and FIFOs, stand only where the code under test looks at entries without
// opening them (dev/, ports/, proc/PID/fd/), and no link from elsewhere leads there.
class FuzzTree {
public:
    static constexpr std::size_t kMaxLines = 64;

    FuzzTree(const std::string& root, const std::uint8_t* data, std::size_t size);
    // Gives the modes back, so that whoever removes the tree may.
    ~FuzzTree();
    FuzzTree(const FuzzTree&) = delete;
    FuzzTree& operator=(const FuzzTree&) = delete;

    // The texts of the lines of another letter, in order.
    std::vector<std::string> Notes(char kind) const;
    // The real device nodes the tokens name.
    static const std::map<std::string, std::string>& Nodes();

private:
    void Make(char kind, const std::string& path, const std::string& value);
    std::string Expand(const std::string& text) const;
    std::string Target(const std::string& linkPath, const std::string& target) const;
    // root + path without "." and ".."; makes the folders above it.
    std::string Place(const std::string& path) const;

    std::string m_root;     // as given
    std::string m_realRoot; // with every link resolved
    std::multimap<char, std::string> m_notes;
    std::vector<std::string> m_modesChanged;
};
