#pragma once

#include "serial/LineProfile.h"

#include <functional>
#include <string>
#include <utility>

// The user's ports folder, where the entry COMn says what port n names: a symbolic link to a
// device, or a device node; and the file COMn.profile beside it, how to talk to that device
// (LineProfile). Reads an entry and a profile, makes the folder, and puts an entry (or a file
// beside it) in place at once, so that nobody ever finds one half-made.
class PortsFolder {
public:
    struct Entry {
        enum class Kind {
            None,       // no entry (also when there is no folder): path is the one looked for
            Link,       // a symbolic link: target is where it points, as written
            Other,      // anything else, a device node for one
            LookupError // it could not be looked up: error says why
        };
        Kind kind = Kind::None;
        std::string path;
        std::string target;
        int error = 0;
        // A link whose liveness mark (LivenessMark, beside it) says that the program that made
        // it has ended: where it leads may be somebody else's by now.
        bool ended = false;
    };

    // folder: empty for the user's, $XDG_CONFIG_HOME/MorvikSerialDemo/ports
    // (~/.config/MorvikSerialDemo/ports when unset), read from the environment at each use.
    explicit PortsFolder(std::string folder = std::string()) : m_folder(std::move(folder)) {}

    // Empty when there is none: neither variable names an absolute path.
    std::string Path() const;
    // The entry of port n ("COM3"), or with a suffix a file beside it ("COM3.lock"); empty when
    // there is no folder.
    std::string EntryPath(unsigned nPort, const std::string& suffix = std::string()) const;
    Entry Read(unsigned nPort) const;

    enum class Profile {
        None,  // no profile file: the default profile holds
        Read,  // the file's profile
        Wrong, // it cannot be read or is wrong: the reason names the file, the line and what
    };
    // The profile file of port n ("COM3.profile"); empty when there is no folder.
    std::string ProfilePath(unsigned nPort) const;
    // Port n's profile into *pProfile (the default unless Read), or why it cannot be had.
    Profile ReadProfile(unsigned nPort, LineProfile* pProfile, std::string* pWhy) const;
    // Puts port n's profile file in place at once. False with errno set.
    bool WriteProfile(unsigned nPort, const LineProfile& profile) const;
    // Removes port n's profile file, so that the default holds; a file that is not there is no
    // failure. False with errno set.
    bool RemoveProfile(unsigned nPort) const;

    // Makes the folder and whatever above it is missing, each one open to its owner only, as
    // the place for a user's configuration should be. False with errno set.
    bool Create() const;
    // Links port n to target in place of whatever entry it had. False with errno set.
    bool Link(unsigned nPort, const std::string& target) const;
    // Links port n to target only where it has no entry. False with errno set (EEXIST).
    bool LinkNew(unsigned nPort, const std::string& target) const;
    // Removes the entry of port n if it still is a link to target.
    void RemoveLink(unsigned nPort, const std::string& target) const;

    // Puts a new file at path in place of the old one, never half-made: make creates it under
    // the temporary name it is given (a link, a file written out), which is then renamed over
    // path. Signals wait until the temporary name is gone either way. False with errno set.
    static bool Replace(const std::string& path, const std::function<bool(const char*)>& make);

private:
    std::string m_folder;
};
