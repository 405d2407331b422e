#include "cli/options.h"

#include <charconv>
#include <climits>
#include <sstream>

#include "settings/profile_store.h"

namespace tollwick {

void AddGlobalOptions(CLI::App& app, GlobalOptions& g) {
    app.add_flag("--simulate", g.simulate, "Use the virtual reader instead of the USB reader");
    app.add_option("--deck", g.deckPath,
                   "With --simulate: keep the virtual reader's cards in this JSON file (created "
                   "when missing, in a folder that exists)")
        ->type_name("FILE")
        ->check(FileName());
    app.add_option("--card", g.card, "With --simulate: the deck's card that is swiped (from 1)")
        ->type_name("N")
        ->check(WholeNumber(1, INT_MAX));
    app.add_option("--profile", g.profilePath,
                   std::string("Settings file (default: ") + kDefaultProfileHelp + ")")
        ->type_name("FILE")
        ->check(FileName());
    app.add_option("--format", g.format,
                   "Data type whose track formats are in force: iso, aamva, cadmv, user, raw")
        ->type_name("TYPE")
        ->check(OneOf({"iso", "aamva", "cadmv", "user", "raw"}));
    app.add_flag("--json", g.json, "Print results as JSON, one object per line");
    app.add_flag("-q,--quiet", g.quiet, "Batch commands: no per-card lines, only the summary");
    app.add_option("--device", g.device,
                   "The reader to use, by its path or serial number (see list); default: the "
                   "first one found")
        ->type_name("PATH|SERIAL");
    app.add_option("--readers", g.readers,
                   "With --simulate: this many virtual readers, virtual:1 to virtual:N, each with "
                   "its own deck (--deck D gives D.1 ... D.N) and pace")
        ->type_name("N")
        ->check(WholeNumber(1, 16));
    app.add_option("--pace", g.pace,
                   "With --simulate: milliseconds from arming to the virtual swipe (default "
                   "150; each further reader a quarter slower)")
        ->type_name("MS")
        ->check(WholeNumber(0, 60000));
    app.add_flag("--mask", g.mask,
                 "Mask account numbers (first six and last four digits shown) in everything "
                 "this run prints: track texts, fields, JSON, CSV rows and messages");
}

std::optional<std::string> CheckGlobalOptions(const GlobalOptions& g) {
    if (!g.simulate && !g.deckPath.empty()) return "--deck goes with --simulate";
    if (!g.simulate && g.cardGiven) return "--card goes with --simulate";
    if (!g.simulate && g.readers != 1) return "--readers goes with --simulate";
    if (!g.simulate && g.pace >= 0) return "--pace goes with --simulate";
    return std::nullopt;
}

DataType FormatType(const GlobalOptions& options) {
    return DataTypeFromName(options.format).value_or(DataType::kIso);
}

CLI::Validator WholeNumber(long long min, long long max) {
    const std::string range = "from " + std::to_string(min) + " to " + std::to_string(max);
    return CLI::Validator(
        [min, max, range](std::string& text) -> std::string {
            long long value = 0;
            const char* end = text.data() + text.size();
            const auto [stop, error] = std::from_chars(text.data(), end, value);
            if (text.empty() || stop != end || error == std::errc::invalid_argument)
                return "must be a whole number " + range;
            if (error == std::errc::result_out_of_range || value < min || value > max)
                return "must be " + range;
            return {};
        },
        "");
}

CLI::Validator FileName() {
    return CLI::Validator(
        [](std::string& text) -> std::string { return text.empty() ? "needs a file name" : ""; },
        "");
}

CLI::Validator OneOf(std::initializer_list<std::string_view> words) {
    std::string list;
    std::vector<std::string> allowed;
    for (std::string_view word : words) {
        if (!list.empty()) list += allowed.size() + 1 == words.size() ? " or " : ", ";
        list += word;
        allowed.emplace_back(word);
    }
    return CLI::Validator(
        [allowed, list](std::string& text) -> std::string {
            for (const std::string& word : allowed) {
                if (text == word) return {};
            }
            return "must be " + list;
        },
        "");
}

std::optional<double> DecimalNumber(std::string_view text) {
    // Digits with at most one point among or before them: no sign, space, exponent or hex.
    const std::size_t point = text.find('.');
    const std::size_t digits = text.size() - (point == std::string_view::npos ? 0 : 1);
    if (digits == 0 || text.find_first_not_of("0123456789.") != std::string_view::npos ||
        (point != std::string_view::npos && text.find('.', point + 1) != std::string_view::npos))
        return std::nullopt;
    double value = 0;
    const auto [stop, error] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    if (error != std::errc() || stop != text.data() + text.size()) return std::nullopt;
    return value;
}

void AddTimeoutOption(CLI::App& command, double& seconds) {
    command
        .add_option("--timeout", seconds,
                    "Seconds to wait for a swipe, up to 86400 (0: no limit; default 30)")
        ->type_name("S")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                const std::optional<double> value = DecimalNumber(text);
                if (!value || *value > kMaxTimeoutSeconds)
                    return "must be a number of seconds from 0 to 86400 (0: no limit)";
                return {};
            },
            ""));
}

std::string FormatSeconds(double seconds) {
    std::ostringstream text;
    text.precision(3);
    text << std::fixed << seconds;
    std::string number = text.str();
    while (number.back() == '0') number.pop_back();
    if (number.back() == '.') number.pop_back();
    return number + " s";
}

std::optional<std::chrono::milliseconds> TimeoutOf(double seconds) {
    if (seconds <= 0) return std::nullopt;
    return std::chrono::ceil<std::chrono::milliseconds>(std::chrono::duration<double>(seconds));
}

}  // namespace tollwick
