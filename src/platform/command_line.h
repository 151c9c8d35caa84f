// What the command-line programs share around their argument parser (CLI11): the help
// layout, the help and version options, and "the last one given wins" for repeated options.
//
// Thread contract: the main thread, before anything else runs.
#pragma once

#include <CLI/CLI.hpp>

#include <memory>
#include <sstream>
#include <string>

namespace orvane {

// The usage line first, then the program's description as it is written (its own line
// breaks), then the options with their descriptions wrapped in a column beside them.
class HelpFormatter : public CLI::Formatter {
public:
    HelpFormatter() { column_width(32); }

    std::string make_help(const CLI::App* app, std::string name,
                          CLI::AppFormatMode mode) const override {
        if (mode == CLI::AppFormatMode::Sub)
            return make_expanded(app);
        std::stringstream out;
        out << make_usage(app, name) << make_description(app) << make_positionals(app)
            << make_groups(app, mode) << make_footer(app);
        return out.str();
    }

    std::string make_description(const CLI::App* app) const override {
        const std::string& text = app->get_description();
        return text.empty() ? std::string() : "\n" + text + "\n";
    }

    // "-h, --help": the names people type, short first. The other spellings the programs have
    // always taken (-?, --help-all, -v) still work and are not shown.
    std::string make_option_name(const CLI::Option* opt, bool positional) const override {
        if (positional)
            return CLI::Formatter::make_option_name(opt, positional);
        std::string names;
        for (const std::string& s : opt->get_snames())
            if (s != "?" && s != "v")
                names += (names.empty() ? "-" : ", -") + s;
        for (const std::string& l : opt->get_lnames())
            if (l != "help-all")
                names += (names.empty() ? "--" : ", --") + l;
        return names;
    }

    std::string make_option_desc(const CLI::Option* opt) const override {
        return Wrap(opt->get_description(), kLineWidth - get_column_width());
    }

    // Breaks every line of text longer than `width` characters at blanks (a longer word keeps
    // a line of its own); the continuation lines keep the line's indentation. Shorter lines,
    // and the line breaks already in the text, stay as they are.
    static std::string Wrap(const std::string& text, std::size_t width) {
        std::string out;
        std::size_t start = 0;
        while (start <= text.size()) {
            std::size_t end = text.find('\n', start);
            if (end == std::string::npos)
                end = text.size();
            const std::string line = text.substr(start, end - start);
            if (start > 0)
                out += '\n';
            if (line.size() <= width) {
                out += line;
            } else {
                const std::string indent = line.substr(0, line.find_first_not_of(' '));
                std::istringstream words(line);
                std::string word;
                std::size_t lineLength = 0;
                while (words >> word) {
                    if (lineLength == 0) {
                        out += indent;
                        lineLength = indent.size();
                    } else if (lineLength + 1 + word.size() > width) {
                        out += '\n' + indent;
                        lineLength = indent.size();
                    } else {
                        out += ' ';
                        ++lineLength;
                    }
                    out += word;
                    lineLength += word.size();
                }
            }
            start = end + 1;
        }
        return out;
    }

    static constexpr std::size_t kLineWidth = 80;
};

// The options every program has, answered after a successful parse (an error in the same
// command line wins over them).
struct StandardOptions {
    CLI::Option* help = nullptr;
    CLI::Option* version = nullptr;
};

// A flag without a value; its count() says whether (how often) it was given.
inline CLI::Option* AddFlag(CLI::App& app, const std::string& name,
                            const std::string& description) {
    return app.add_flag(name, description);
}

// Sets up `app` as the programs expect: the help layout above, -h/--help and -V/--version as
// plain flags (with the older spellings -?, --help-all and -v), and a repeated option's last value
// winning (an option meant to be given several times says so with MultiOptionPolicy::TakeAll).
inline StandardOptions SetUpCommandLine(CLI::App& app) {
    app.formatter(std::make_shared<HelpFormatter>());
    app.set_help_flag();
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    StandardOptions standard;
    standard.help = AddFlag(app, "-h,-?,--help,--help-all", "Displays help on the options.");
    standard.version = AddFlag(app, "-V,-v,--version", "Displays version information.");
    return standard;
}

} // namespace orvane
