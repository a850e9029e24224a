// How every command declares and reads its arguments: one CLI11 parser per command, declared by
// the command's own function so that reading, help, the manual page and shell completion all
// come from the same declarations. Included by the app's sources only (CLI11 is large).
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/Commands.h"

namespace kestrova {

// A parser for one command: no help flag of its own (the dispatcher answers --help for every
// command alike), and arguments it does not know are left for ParseOptions to name.
std::unique_ptr<CLI::App> NewCommandParser(const char* command);

// Reads args into what app declares. False with problem set to one line saying what was wrong
// ("unknown option \"--zip\"", "--fps takes a number from 0.01 to 255", "IN.swf is required").
bool ParseOptions(CLI::App& app, const std::vector<std::string>& args, std::string& problem);

// Reads a command's arguments into o through its declaring function. False with problem set
// when they are not understood.
template <class TOptions>
bool ReadArguments(const char* command, void (*declare)(CLI::App&, TOptions&),
                   const std::vector<std::string>& args, TOptions& o, std::string& problem) {
  const std::unique_ptr<CLI::App> app = NewCommandParser(command);
  declare(*app, o);
  return ParseOptions(*app, args, problem);
}

// The same, answering bad arguments as every command does (UsageError): returns 0 when they were
// understood, else the exit status of bad arguments.
template <class TOptions>
int ReadArguments(const char* command, void (*declare)(CLI::App&, TOptions&),
                  const std::vector<std::string>& args, TOptions& o, std::ostream& err) {
  std::string problem;
  if (ReadArguments(command, declare, args, o, problem)) return 0;
  return UsageError(command, err, problem);
}

// Declares a positional argument; display is how usage lines show it ("IN.swf", "IMAGE...").
template <class T>
CLI::Option* AddArgument(CLI::App& app, const std::string& display, T& value,
                         const std::string& description) {
  // Errors name the argument as usage lines show it ("OUT.swf is required"), up to a choice.
  return app.add_option(display.substr(0, display.find('|')), value, description)
      ->type_name(display);
}

// Declares an option holding a number in [low, high] (a whole number when T is integral); the
// default shown in help is value's as declared. A value out of range or not a number is refused
// with "NAME takes ...".
template <class T>
CLI::Option* AddNumber(CLI::App& app, const std::string& name, T& value, T low, T high,
                       const std::string& typeName, const std::string& description);
// The same with a setter, for a value held otherwise (std::optional) and its default given.
template <class T>
CLI::Option* AddNumber(CLI::App& app, const std::string& name, std::function<void(T)> set, T low,
                       T high, const std::string& typeName, const std::string& description,
                       const std::string& defaultText);

// Declares an option whose text is checked (and converted) by read, which returns false when the
// text is not understood; the problem is then "NAME takes <takes>".
CLI::Option* AddChecked(CLI::App& app, const std::string& name,
                        std::function<bool(const std::string&)> read, const std::string& typeName,
                        const std::string& takes, const std::string& description,
                        const std::string& defaultText);

// --web-player URL, which every command writing a page has alike.
CLI::Option* AddWebPlayer(CLI::App& app, std::string& url);

// -q, --quiet, which every command reporting progress has alike.
CLI::Option* AddQuiet(CLI::App& app, bool& quiet);

// The declared arguments of a command, for help, the manual page and completion. The parser
// returned keeps what its options are bound to.
struct TDeclaredOptions {
  std::shared_ptr<void> Bound;
  std::unique_ptr<CLI::App> Parser;
};
TDeclaredOptions DeclaredOptions(const TCommandInfo& command);

// Makes a TDeclareFunc of a command's declaring function and its options' type.
template <class TOptions, void (*Declare)(CLI::App&, TOptions&)>
std::shared_ptr<void> DeclareWith(CLI::App& app) {
  auto options = std::make_shared<TOptions>();
  Declare(app, *options);
  return options;
}

// The usage text after the command's name: positionals, then "[--opt ARG]" for each option, and
// options that exclude each other as one "[--a|--b ARG]".
std::string UsageText(const CLI::App& app);

// Whether an option takes a value (flags do not).
inline bool TakesValue(const CLI::Option& option) {
  return option.get_expected_max() != 0;
}

// The values an option offers for completion, when its value name lists them ("256|32k|16m");
// empty when any word fits.
std::vector<std::string> Choices(const CLI::Option& option);

// ---- number options ----

namespace commandline_detail {
std::string NumberText(double v);
std::string NumberText(std::int64_t v);
bool ReadNumber(const std::string& text, double low, double high, double& value);
bool ReadNumber(const std::string& text, std::int64_t low, std::int64_t high, std::int64_t& value);
}  // namespace commandline_detail

template <class T>
CLI::Option* AddNumber(CLI::App& app, const std::string& name, std::function<void(T)> set, T low,
                       T high, const std::string& typeName, const std::string& description,
                       const std::string& defaultText) {
  using TWide = std::conditional_t<std::is_integral_v<T>, std::int64_t, double>;
  const std::string takes = std::string(std::is_integral_v<T> ? "a whole number" : "a number") +
                            " from " + commandline_detail::NumberText(TWide(low)) + " to " +
                            commandline_detail::NumberText(TWide(high));
  return AddChecked(
      app, name,
      [set, low, high](const std::string& text) {
        TWide v{};
        if (!commandline_detail::ReadNumber(text, TWide(low), TWide(high), v)) return false;
        set(static_cast<T>(v));
        return true;
      },
      typeName, takes, description, defaultText);
}

template <class T>
CLI::Option* AddNumber(CLI::App& app, const std::string& name, T& value, T low, T high,
                       const std::string& typeName, const std::string& description) {
  using TWide = std::conditional_t<std::is_integral_v<T>, std::int64_t, double>;
  return AddNumber<T>(app, name, std::function<void(T)>([&value](T v) { value = v; }), low, high,
                      typeName, description, commandline_detail::NumberText(TWide(value)));
}

}  // namespace kestrova
