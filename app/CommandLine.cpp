#include "app/CommandLine.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace kestrova {

namespace commandline_detail {

std::string NumberText(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", v);
  return text;
}

std::string NumberText(std::int64_t v) {
  return std::to_string(v);
}

bool ReadNumber(const std::string& text, double low, double high, double& value) {
  if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return false;
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return *end == '\0' && std::isfinite(value) && value >= low && value <= high;
}

bool ReadNumber(const std::string& text, std::int64_t low, std::int64_t high, std::int64_t& value) {
  const char* first = text.data() + (text.starts_with('+') ? 1 : 0);
  const auto [end, ec] = std::from_chars(first, text.data() + text.size(), value);
  return first != text.data() + text.size() && ec == std::errc() &&
         end == text.data() + text.size() && value >= low && value <= high;
}

}  // namespace commandline_detail

std::unique_ptr<CLI::App> NewCommandParser(const char* command) {
  auto app = std::make_unique<CLI::App>("", command);
  app->set_help_flag();
  app->allow_extras();
  // An option given twice takes its last value, so a script can append to a command line.
  app->option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  return app;
}

bool ParseOptions(CLI::App& app, const std::vector<std::string>& args, std::string& problem) {
  // CLI11 takes the arguments last first.
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    problem = e.what();
    return false;
  }
  const std::vector<std::string> extra = app.remaining();
  if (extra.empty()) return true;
  const std::string& first = extra.front();
  problem = first.size() > 1 && first[0] == '-' ? "unknown option \"" + first + "\""
                                                : "unexpected argument \"" + first + "\"";
  return false;
}

CLI::Option* AddChecked(CLI::App& app, const std::string& name,
                        std::function<bool(const std::string&)> read, const std::string& typeName,
                        const std::string& takes, const std::string& description,
                        const std::string& defaultText) {
  const std::string problem = name.substr(name.rfind(',') + 1) + " takes " + takes;
  CLI::Option* option = app.add_option_function<std::string>(
      name,
      [read = std::move(read), problem](const std::string& text) {
        if (!read(text)) throw CLI::ValidationError(problem);
      },
      description);
  return option->type_name(typeName)->default_str(defaultText);
}

CLI::Option* AddWebPlayer(CLI::App& app, std::string& url) {
  return AddChecked(
      app, "--web-player",
      [&url](const std::string& text) {
        url = text;
        return !text.empty();
      },
      "URL|none|local[:PATH]", "the web player: a script's URL, none or local[:PATH]",
      "the web player the page loads: URL, its script's address; none, only the page's "
      "object/embed markup, for browsers with a player of their own; local, a copy beside the "
      "page so it plays offline (from PATH, or node_modules/@ruffle-rs/ruffle here or above, or "
      "npm's global folders)",
      "the Ruffle web player from its public address");
}

CLI::Option* AddQuiet(CLI::App& app, bool& quiet) {
  return app.add_flag("-q,--quiet", quiet, "show no progress");
}

TDeclaredOptions DeclaredOptions(const TCommandInfo& command) {
  TDeclaredOptions d;
  d.Parser = NewCommandParser(command.Name);
  d.Bound = command.Declare(*d.Parser);
  return d;
}

namespace {

// "-q, --quiet" in help; the long name alone in usage lines.
std::string OptionName(const CLI::Option& o) {
  if (!o.get_lnames().empty()) return "--" + o.get_lnames().front();
  return "-" + o.get_snames().front();
}

std::string WithValue(const CLI::Option& o) {
  const std::string name = OptionName(o);
  return !TakesValue(o) ? name : name + " " + o.get_type_name();
}

}  // namespace

std::string UsageText(const CLI::App& app) {
  std::string positionals, options;
  const std::vector<const CLI::Option*> all = app.get_options();
  for (std::size_t i = 0; i < all.size(); ++i) {
    const CLI::Option& o = *all[i];
    if (o.get_positional()) {
      const std::string shown = o.get_type_name();
      positionals += " " + (o.get_required() ? shown : "[" + shown + "]");
      continue;
    }
    // A group of options that exclude each other is shown once, where its first one is.
    const auto excludes = o.get_excludes();
    bool shownBefore = false;
    for (std::size_t j = 0; j < i; ++j)
      shownBefore |= excludes.count(const_cast<CLI::Option*>(all[j])) > 0;
    if (shownBefore) continue;
    std::string group = WithValue(o);
    for (std::size_t j = i + 1; j < all.size(); ++j) {
      if (excludes.count(const_cast<CLI::Option*>(all[j]))) group += "|" + WithValue(*all[j]);
    }
    options += " [" + group + "]";
  }
  const std::string text = positionals + options;
  return text.empty() ? text : text.substr(1);
}

std::vector<std::string> Choices(const CLI::Option& option) {
  std::vector<std::string> choices;
  const std::string type = option.get_type_name();
  if (option.get_positional() || type.find('|') == std::string::npos) return choices;
  std::size_t from = 0;
  while (from <= type.size()) {
    const std::size_t bar = std::min(type.find('|', from), type.size());
    choices.push_back(type.substr(from, bar - from));
    from = bar + 1;
  }
  return choices;
}

}  // namespace kestrova
