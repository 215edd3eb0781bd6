#include "serial/LineProfile.h"
#include "serial/comm.h"
#include "testsupport/PtyDevice.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Every field with values it takes (the profile then described as a listing shows it) and
// values it refuses (with the reason a person reads), each set on the default profile.
TEST(LineProfile, EachFieldTakesItsValuesAndSaysWhatItTakes) {
    const std::string parities = "the parity is none, odd, even, mark or space, not '";
    const struct {
        const char* name;
        std::string value;
        bool taken;
        std::string result; // Describe() when taken, the reason when refused
    } cases[] = {
        {"baud", "50", true, "50 8N1"},
        {"baud", "4000000", true, "4000000 8N1"},
        {"baud", "49", false, "the baud rate is 50 to 4000000, not '49'"},
        {"baud", "18446744073709551617", false,
         "the baud rate is 50 to 4000000, not '18446744073709551617'"},
        {"baud", "+9600", false, "the baud rate is 50 to 4000000, not '+9600'"},
        {"data-bits", "5", true, "19200 5N1"},
        {"data-bits", "9", false, "the data bits are 5, 6, 7 or 8, not '9'"},
        {"parity", "mark", true, "19200 8M1"},
        {"parity", "Space", true, "19200 8S1"},
        {"parity", "\x1b[2J", false, parities + "\\x1b[2J'"},
        {"parity", std::string(50, 'x'), false, parities + std::string(40, 'x') + "...'"},
        {"stop-bits", "1.5", true, "19200 8N1.5"}, // taken alone; Conflict() has the say
        {"stop-bits", "1,5", false, "the stop bits are 1, 1.5 or 2, not '1,5'"},
        {"command-end", "none", true, "19200 8N1, command end none"},
        {"command-end", "any", false, "the command end is cr, lf, crlf or none, not 'any'"},
        {"reply-end", "any", true, "19200 8N1, reply end any"},
        {"reply-end", "none", false, "the reply end is cr, lf, crlf or any, not 'none'"},
        {"timeout", "30000", true, "19200 8N1, time-out 30000 ms"},
        {"timeout", "0", false, "the time-out is 1 to 30000 ms, not '0'"},
        {"encoding", "UTF-8", true, "19200 8N1, encoding utf-8"},
        {"encoding", "latin1", false, "the encoding is auto, windows-1252 or utf-8, not 'latin1'"},
        {"Baud", "9600", false,
         "unknown setting 'Baud' (baud, data-bits, parity, stop-bits, command-end, reply-end, "
         "timeout or encoding)"},
    };
    for (const auto& c : cases) {
        LineProfile profile;
        std::string why;
        EXPECT_EQ(c.taken, profile.Set(c.name, c.value, &why)) << c.name << " " << c.value;
        EXPECT_EQ(c.result, c.taken ? profile.Describe() : why) << c.name << " " << c.value;
        EXPECT_EQ(!c.taken, profile.IsDefault()) << c.name << " " << c.value;
    }
    // What a UART makes of the stop-bit flag: 1.5 on a 5-bit line, 2 on any other.
    LineProfile five;
    std::string why;
    ASSERT_TRUE(five.Set("stop-bits", "1.5", &why));
    EXPECT_EQ("1.5 stop bits go with 5 data bits only, not 8", five.Conflict());
    ASSERT_TRUE(five.Set("data-bits", "5", &why));
    EXPECT_EQ("", five.Conflict());
    ASSERT_TRUE(five.Set("stop-bits", "2", &why));
    EXPECT_EQ("5 data bits take 1 or 1.5 stop bits, not 2", five.Conflict());
}

TEST(LineProfile, AFileReadsAsAPersonWritesItAndSaysWhereItIsWrong) {
    // Spaces, comments, blank lines and CR LF line ends as an editor leaves them; what is not
    // named keeps its default; what Format writes reads back the same.
    LineProfile written;
    int line = -1;
    std::string why;
    ASSERT_TRUE(LineProfile::Parse("  baud=9600   # the meter's\r\n\r\n# set by hand\n"
                                   "\treply-end =  lf\r\nparity = mark\ntimeout=2500",
                                   &written, &line, &why))
        << why;
    EXPECT_EQ("9600 8M1, reply end lf, time-out 2500 ms", written.Describe());
    const std::string text = written.Format();
    EXPECT_NE(std::string::npos, text.find("#   parity       none, odd, even, mark or space\n"));
    LineProfile back;
    ASSERT_TRUE(LineProfile::Parse(text, &back, &line, &why)) << why;
    EXPECT_EQ(text, back.Format());

    const struct {
        const char* text;
        int line;
        std::string why;
    } wrong[] = {
        {"baud = 9600\n\nparity = marks\n", 3,
         "the parity is none, odd, even, mark or space, not 'marks'"},
        {"# speed\nbaud 9600\n", 2, "'baud 9600' is not a 'name = value' line"},
        {"= 9600", 1, "'= 9600' is not a 'name = value' line"},
        {"baud = 9600\ntimeout = 10\nbaud = 4800\n", 3, "baud is set twice, on line 1 and here"},
        {"stop-bits = 2\n# five\ndata-bits = 5\nparity = odd\n", 3,
         "5 data bits take 1 or 1.5 stop bits, not 2"},
    };
    for (const auto& c : wrong) {
        LineProfile untouched = written;
        EXPECT_FALSE(LineProfile::Parse(c.text, &untouched, &line, &why)) << c.text;
        EXPECT_EQ(c.line, line) << c.text;
        EXPECT_EQ(c.why, why) << c.text;
        EXPECT_EQ(text, untouched.Format()) << "a wrong file changed the profile: " << c.text;
    }
}

// A port's profile that cannot be had fails with the file, the line and what; nothing is
// guessed. A port the program was given a device for, and a number Open refuses, have the
// default whatever the folder holds.
TEST(LineProfile, AWrongProfileFileSaysWhichFileWhichLineAndWhat) {
    PtyDevice dev(1);
    const std::string file = dev.PortsFolder() + "/COM1.profile";
    const struct {
        std::function<void()> make;
        std::string why;
    } cases[] = {
        {[&] { std::ofstream(file) << "# meter\nbaud = 9600\nparity = marks\n"; },
         file + ", line 3: the parity is none, odd, even, mark or space, not 'marks'"},
        {[&] { std::ofstream(file) << "stop-bits = 1.5\n"; },
         file + ", line 1: 1.5 stop bits go with 5 data bits only, not 8"},
        {[&] { EXPECT_EQ(0, mkdir(file.c_str(), 0700)); }, file + ": not a file"},
        {[&] { EXPECT_EQ(0, mkfifo(file.c_str(), 0600)); }, file + ": not a file"},
        {[&] { EXPECT_EQ(0, symlink("/nonexistent/profile", file.c_str())); },
         file + ": cannot be read (No such file or directory)"},
        {[&] { std::ofstream(file) << std::string(70000, '#'); }, file + ": larger than 64 KiB"},
    };
    for (const auto& c : cases) {
        c.make();
        LineProfile profile;
        profile.timeoutMs = 5;
        EXPECT_EQ(FALSE, CommLoadProfile(1, &profile)) << c.why;
        EXPECT_TRUE(profile.IsDefault()) << c.why;
        EXPECT_EQ(COMM_ERROR_PROFILE, CommGetLastError()) << c.why;
        EXPECT_EQ("cannot open COM1: " + c.why, std::string(CommErrorMessage()));
        if (unlink(file.c_str()) != 0)
            rmdir(file.c_str());
    }

    std::ofstream(file) << "parity = marks\n";
    std::ofstream(dev.PortsFolder() + "/COM5.profile") << "parity = marks\n";
    LineProfile profile;
    CommDefinePort(1, dev.SlavePath().c_str());
    EXPECT_EQ(TRUE, CommLoadProfile(1, &profile));
    CommDefinePort(1, nullptr);
    EXPECT_EQ(TRUE, CommLoadProfile(5, &profile));
    EXPECT_TRUE(profile.IsDefault());
    unlink((dev.PortsFolder() + "/COM5.profile").c_str());
}

} // namespace
