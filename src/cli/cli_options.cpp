#include "cli/cli_options.h"

#include <charconv>
#include <limits>

namespace ombrik::cli {

const char* const kUsage =
    "Usage: ombrik-cli list LINK [--json] [--items LIST] [options]\n"
    "       ombrik-cli get LINK [-o DIR] [-j N] [--existing replace|number|keep] [--no-continue]\n"
    "                           [--items LIST] [--json] [options]\n"
    "       ombrik-cli --help | --version\n"
    "\n"
    "Lists the tracks of an album, or downloads them, with the same core as the Ombrik window.\n"
    "LINK is the album's link or its album id.\n"
    "\n"
    "Commands:\n"
    "  list                 print one line per track on standard output: number, TAB, title,\n"
    "                       TAB, play address (UTF-8); the track count goes to standard error\n"
    "  get                  download every track into DIR as <number><title>.<extension>\n"
    "\n"
    "Options:\n"
    "  --json               list: one JSON object per track with number, title and playPath;\n"
    "                       get: one JSON object per finished track with number, title, path,\n"
    "                       outcome (fetched, kept, skipped, failed), reason and bytes\n"
    "  -o, --output DIR     get: the download folder, created when missing (default: .)\n"
    "  -j, --jobs N         get: download up to N tracks at once, 1 to 16 (default 3)\n"
    "  --existing MODE      get: what to do with a file that is already there:\n"
    "                         replace  fetch it again and replace it (default)\n"
    "                         number   fetch to a free name: name(1).wav .. name(99).wav;\n"
    "                                  the track fails when all 99 are taken\n"
    "                         keep     leave it and fetch nothing\n"
    "  --no-continue        get: start every track from byte 0, ignoring part files\n"
    "  --items LIST         only the tracks at these positions of the list (1-based, in list\n"
    "                       order), e.g. 1-3,7,10- (10- is 10 to the end)\n"
    "  --retries N          try a page or track that failed in a way that can heal (time-out,\n"
    "                       broken connection, HTTP 408, 425, 429, 500, 502, 503, 504) up to\n"
    "                       N more times, pausing 1 s, 2 s, 4 s ... (at most 30 s) or as long\n"
    "                       as the server's Retry-After asks, up to 300 s (default 3, at most 20)\n"
    "  --api-origin URL     the album track service, scheme://host[:port]; overrides\n"
    "                       OMBRIK_API_ORIGIN\n"
    "  --cacert FILE        trust the certificate (or bundle, PEM) in FILE besides the\n"
    "                       system's; overrides OMBRIK_CA_FILE\n"
    "  --insecure           do not check the servers' certificates (anyone on the way could\n"
    "                       then hand over other lists and files); also OMBRIK_INSECURE=1\n"
    "  --timeout SECONDS    give up on a connection, or on a transfer that receives nothing,\n"
    "                       after this long (default 60)\n"
    "  -q, --quiet          only errors on standard error: no count, progress or summary\n"
    "  -h, --help           show this text\n"
    "  --version            show the version\n"
    "\n"
    "A track is fetched into <file>.part beside its file and renamed when complete. A transfer\n"
    "that fails or is interrupted (Ctrl-C, a crash) keeps its part file, and the next get of\n"
    "the same track continues it where the server confirms that the file is unchanged (ETag or\n"
    "Last-Modified); otherwise it starts over, so two versions are never mixed. Names longer\n"
    "than the file system takes (255 bytes) have their title shortened.\n"
    "\n"
    "Messages are the program's own (Chinese) texts, one per line on standard error, with the\n"
    "reason of a failure in English after them; the program never asks for input.\n"
    "\n"
    "Exit status:\n"
    "  0    every listed track was fetched (with --existing keep: or already there); for list,\n"
    "       the whole album was listed\n"
    "  1    some tracks failed, or some pages of the album could not be read\n"
    "  2    usage error, empty or invalid link, or the service gave no list\n"
    "  130  interrupted (SIGINT); 143 for SIGTERM\n"
    "\n"
    "Environment:\n"
    "  OMBRIK_API_ORIGIN    the album track service, when --api-origin is not given\n"
    "  OMBRIK_CA_FILE       a certificate or bundle to trust, when --cacert is not given\n"
    "  OMBRIK_INSECURE      1: do not check certificates, as --insecure\n";

namespace {

std::optional<int> SmallNumber(std::string_view text, int min, int max) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc{} || end != text.data() + text.size() || value < min || value > max) {
    return std::nullopt;
  }
  return value;
}

bool IsWebOrigin(std::string_view url) {
  for (std::string_view scheme : {"http://", "https://"}) {
    if (url.size() > scheme.size() && url.substr(0, scheme.size()) == scheme) return true;
  }
  return false;
}

}  // namespace

bool ItemSelection::Contains(int position) const {
  for (const auto& [first, last] : ranges) {
    if (position >= first && position <= last) return true;
  }
  return false;
}

std::optional<ItemSelection> ParseItems(std::string_view text) {
  ItemSelection selection;
  const auto number = [](std::string_view digits) { return SmallNumber(digits, 1, 1'000'000); };
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    const std::string_view piece = text.substr(0, comma);
    text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
    if (comma != std::string_view::npos && text.empty()) return std::nullopt;  // "1,"
    const std::size_t dash = piece.find('-');
    const auto first = number(piece.substr(0, dash));
    if (!first) return std::nullopt;
    int last = *first;
    if (dash != std::string_view::npos) {
      const std::string_view end = piece.substr(dash + 1);
      if (end.empty()) {
        last = std::numeric_limits<int>::max();
      } else if (const auto n = number(end); n && *n >= *first) {
        last = *n;
      } else {
        return std::nullopt;
      }
    }
    selection.ranges.emplace_back(*first, last);
  }
  if (selection.ranges.empty()) return std::nullopt;
  return selection;
}

ParseResult ParseCommandLine(const std::vector<std::string_view>& args) {
  Options o;
  std::optional<Command> command;
  std::vector<std::string_view> operands;
  bool getOnly = false;  // an option given that only get takes
  bool optionsEnded = false;
  const auto fail = [](std::string text) { return ParseResult{std::nullopt, std::move(text)}; };

  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string_view arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      operands.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    // "--name=value" and "--name value" both work.
    std::optional<std::string_view> inlineValue;
    if (arg.starts_with("--")) {
      if (const auto eq = arg.find('='); eq != std::string_view::npos) {
        inlineValue = arg.substr(eq + 1);
        arg = arg.substr(0, eq);
      }
    }
    const auto value = [&]() -> std::optional<std::string_view> {
      if (inlineValue) return inlineValue;
      if (i + 1 < args.size()) return args[++i];
      return std::nullopt;
    };
    const auto takesNoValue = [&] { return !inlineValue; };

    if ((arg == "-h" || arg == "--help") && takesNoValue()) {
      o.command = Command::Help;
      return {o, {}};
    } else if (arg == "--version" && takesNoValue()) {
      o.command = Command::Version;
      return {o, {}};
    } else if ((arg == "-q" || arg == "--quiet") && takesNoValue()) {
      o.quiet = true;
    } else if (arg == "--json" && takesNoValue()) {
      o.json = true;
    } else if (arg == "--items") {
      const auto v = value();
      o.items = v ? ParseItems(*v) : std::nullopt;
      if (!o.items) {
        return fail("--items takes positions in list order, like 1-3,7,10- (1-based, ranges ascending)");
      }
    } else if (arg == "--no-continue" && takesNoValue()) {
      o.resume = false;
      getOnly = true;
    } else if (arg == "-j" || arg == "--jobs") {
      const auto v = value();
      const auto n = v ? SmallNumber(*v, 1, 16) : std::nullopt;
      if (!n) return fail("--jobs takes a number from 1 to 16");
      o.jobs = *n;
      getOnly = true;
    } else if (arg == "-o" || arg == "--output") {
      const auto v = value();
      if (!v || v->empty()) return fail("missing folder after " + std::string{arg});
      o.folder = *v;
      getOnly = true;
    } else if (arg == "--existing") {
      const auto v = value();
      if (v == "replace") {
        o.existing = ExistingFileMode::ReplaceExisting;
      } else if (v == "number") {
        o.existing = ExistingFileMode::NumberedName;
      } else if (v == "keep") {
        o.existing = ExistingFileMode::KeepExisting;
      } else {
        return fail("--existing takes replace, number or keep");
      }
      getOnly = true;
    } else if (arg == "--retries") {
      const auto v = value();
      const auto n = v ? SmallNumber(*v, 0, 20) : std::nullopt;
      if (!n) return fail("--retries takes a number from 0 to 20");
      o.retries = *n;
    } else if (arg == "--timeout") {
      const auto v = value();
      const auto n = v ? SmallNumber(*v, 1, 86'400) : std::nullopt;
      if (!n) return fail("--timeout takes a number of seconds from 1 to 86400");
      o.timeoutSeconds = *n;
    } else if (arg == "--insecure" && takesNoValue()) {
      o.insecure = true;
    } else if (arg == "--cacert") {
      const auto v = value();
      if (!v || v->empty()) return fail("missing file after --cacert");
      o.caFile = std::string{*v};
    } else if (arg == "--api-origin") {
      const auto v = value();
      if (!v || !IsWebOrigin(*v)) return fail("--api-origin takes http://host[:port] or https://host[:port]");
      o.apiOrigin = std::string{*v};
    } else {
      return fail("unknown option: " + std::string{args[i]});
    }
  }

  if (operands.empty()) return fail("missing command: list or get");
  if (operands[0] == "list") {
    command = Command::List;
  } else if (operands[0] == "get") {
    command = Command::Get;
  } else {
    return fail("unknown command: " + std::string{operands[0]});
  }
  if (operands.size() < 2) return fail("missing album link");
  if (operands.size() > 2) return fail("too many arguments: " + std::string{operands[2]});
  if (*command == Command::List && getOnly) return fail("-o, -j, --existing and --no-continue belong to get");
  o.command = *command;
  o.link = operands[1];
  return {o, {}};
}

}  // namespace ombrik::cli
