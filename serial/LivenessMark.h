#pragma once

#include <string>

// The mark beside a ports entry that tells whether the program serving its link still runs: the
// file COMn.alive, locked for as long as that program runs (the kernel lets the lock go however
// the program ends, SIGKILL too) and naming the target its link was made for. A link whose mark
// names it and is not locked leads to a pseudo-terminal whose number the kernel may have given
// to somebody else by now: it is never followed. A mark that names another target speaks for
// nothing (the entry was linked anew).
class LivenessMark {
public:
    static constexpr const char* kSuffix = ".alive";
    // A mark is a path or so; anything longer is no mark of ours.
    static constexpr long kMaxBytes = 4096;

    enum class State {
        None,  // no mark speaks for this link
        Alive, // the program that made the link runs
        Ended  // it ended without removing its link
    };
    // What the mark at markPath says of a link that leads to target. Reads the file without
    // taking its lock, and nothing but a regular file.
    static State Of(const std::string& markPath, const std::string& target);

    LivenessMark() = default;
    ~LivenessMark() { Drop(); }
    LivenessMark(const LivenessMark&) = delete;
    LivenessMark& operator=(const LivenessMark&) = delete;

    // Takes the mark at markPath, made if missing. False with errno set; EWOULDBLOCK when a
    // running program holds it.
    bool Take(const std::string& markPath);
    // What the mark named when it was taken: the target of the link its last holder made, which
    // a new holder may replace whatever it leads to now.
    const std::string& Previous() const { return m_previous; }
    // Names the target the link leads to from now on. False with errno set.
    bool Vouch(const std::string& target);
    // Removes the mark and lets it go.
    void Drop();

private:
    int m_fd = -1;
    std::string m_path;
    std::string m_previous;
};
