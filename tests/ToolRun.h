#pragma once

#include <sstream>
#include <string>
#include <vector>

// A command-line tool's Run(argc, argv, ...) called in this process: its status and what it
// wrote to its output and its error stream.
struct ToolRun {
    int status;
    std::string out, err;

    // args follow the program's name; in... are the streams the tool's Run takes before its
    // output and error streams.
    template <class Tool, class... Input>
    static ToolRun Of(Tool&& tool, const char* program, std::vector<const char*> args,
                      Input&... in) {
        args.insert(args.begin(), program);
        std::ostringstream out, err;
        const int status = tool.Run(static_cast<int>(args.size()), args.data(), in..., out, err);
        return {status, out.str(), err.str()};
    }
};
