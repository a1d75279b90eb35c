#include "endpoint/command_line.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <ostream>
#include <thread>

#include "endpoint/csv_import.h"
#include "endpoint/demo_data.h"
#include "endpoint/event_store.h"
#include "endpoint/tracking_server.h"
#include "endpoint/tracking_time.h"

namespace korvanel::endpoint {
namespace {

constexpr const char* kUsage =
    "usage:\n"
    "  tracking-endpoint serve --db FILE [--listen HOST:PORT] [--latency-ms N] [--threads N]\n"
    "  tracking-endpoint demo --db FILE\n"
    "  tracking-endpoint add --db FILE [--encoding utf-8|gbk] NUMBER \"YYYY-MM-DD HH:MM:SS\" "
    "TEXT\n"
    "  tracking-endpoint import --db FILE [--encoding utf-8|gbk] EVENTS.csv\n"
    "\n"
    "serve answers GET /korvanelapi.php?yundanhao=NUMBER&type=html with the number's\n"
    "tracking page (GBK). It listens on 127.0.0.1:8580 unless --listen says otherwise;\n"
    "0.0.0.0:PORT exposes it to the network, port 0 picks a free port. The first line it\n"
    "prints is \"listening on HOST:PORT\". --latency-ms delays every answer; --threads sets\n"
    "how many connections are served at once (default 32). SIGINT or SIGTERM stop it.\n"
    "\n"
    "demo records the demo waybills. add records one event; import records the events of a\n"
    "CSV file with the columns number, time, text (an optional header line\n"
    "\"number,time,text\"), all of them or, on any bad line, none. Text arguments and files\n"
    "are UTF-8 unless --encoding gbk says they are GBK.\n";

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct ParsedArgs {
  std::map<std::string, std::string> options;
  std::vector<std::string> positional;
};

// Options take a value ("--db FILE" or "--db=FILE"); "--" ends them, so a number that
// starts with "-" can still be given.
ParsedArgs ParseArgs(const std::vector<std::string>& args, size_t from,
                     const std::vector<std::string>& known) {
  ParsedArgs parsed;
  bool optionsEnded = false;
  for (size_t i = from; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
      parsed.positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    std::string name = arg.substr(2);
    std::optional<std::string> value;
    if (size_t equals = name.find('='); equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
    }
    bool isKnown = false;
    for (const std::string& k : known) isKnown = isKnown || k == name;
    if (!isKnown) throw UsageError("unknown option --" + name);
    if (!value) {
      if (i + 1 >= args.size()) throw UsageError("--" + name + " needs a value");
      value = args[++i];
    }
    if (parsed.options.count(name)) throw UsageError("--" + name + " is given twice");
    parsed.options[name] = *value;
  }
  return parsed;
}

std::string RequireDb(const ParsedArgs& parsed) {
  auto it = parsed.options.find("db");
  if (it == parsed.options.end() || it->second.empty()) throw UsageError("--db FILE is required");
  return it->second;
}

int ParseInt(const std::string& text, const std::string& what, int low, int high) {
  int value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high)
    throw UsageError(what + " must be a whole number from " + std::to_string(low) + " to " +
                     std::to_string(high) + ", not \"" + text + "\"");
  return value;
}

InputEncoding EncodingOption(const ParsedArgs& parsed) {
  auto it = parsed.options.find("encoding");
  if (it == parsed.options.end()) return InputEncoding::kUtf8;
  auto encoding = ParseEncoding(it->second);
  if (!encoding) throw UsageError("--encoding must be utf-8 or gbk, not \"" + it->second + "\"");
  return *encoding;
}

void ParseListen(const std::string& listen, ServerOptions& options) {
  size_t colon = listen.rfind(':');
  if (colon == std::string::npos || colon == 0)
    throw UsageError("--listen must be HOST:PORT, for instance 127.0.0.1:8580");
  std::string host = listen.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  if (host.empty()) throw UsageError("--listen must be HOST:PORT, for instance 127.0.0.1:8580");
  options.host = host;
  options.port = ParseInt(listen.substr(colon + 1), "the port of --listen", 0, 65535);
}

bool IsLoopback(const std::string& host) {
  return host == "localhost" || host == "::1" || host.rfind("127.", 0) == 0;
}

int Serve(const ParsedArgs& parsed, std::ostream& out, std::ostream& err) {
  if (!parsed.positional.empty())
    throw UsageError("serve takes no argument \"" + parsed.positional.front() + "\"");
  ServerOptions options;
  options.dbPath = RequireDb(parsed);
  if (auto it = parsed.options.find("listen"); it != parsed.options.end())
    ParseListen(it->second, options);
  if (auto it = parsed.options.find("latency-ms"); it != parsed.options.end())
    options.latencyMs = ParseInt(it->second, "--latency-ms", 0, 60000);
  if (auto it = parsed.options.find("threads"); it != parsed.options.end())
    options.threads = ParseInt(it->second, "--threads", 1, 1024);

  // The signals are taken by one thread with sigwait, so stopping the server happens in
  // ordinary code; every thread started after this inherits the mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  TrackingServer server(options);
  int port = server.Bind();
  if (!IsLoopback(options.host))
    err << "tracking-endpoint: note: listening on " << options.host
        << ", reachable from other machines\n";
  out << "listening on " << options.host << ":" << port << std::endl;

  std::atomic<bool> serving{true};
  std::thread stopper([&] {
    int signalNumber = 0;
    sigwait(&stopSignals, &signalNumber);
    if (serving) server.Stop();
  });
  server.Run();
  serving = false;
  // When Run ended without a signal, wake the waiting thread with one.
  kill(getpid(), SIGTERM);
  stopper.join();
  out << "stopped" << std::endl;
  return kExitOk;
}

int Demo(const ParsedArgs& parsed, std::ostream& out) {
  if (!parsed.positional.empty())
    throw UsageError("demo takes no argument \"" + parsed.positional.front() + "\"");
  std::string db = RequireDb(parsed);
  EventStore store(db);
  std::vector<TrackingEvent> events = DemoEvents();
  int added = store.AddEvents(events);
  out << "recorded " << added << " demo events (" << events.size() - added << " already there); "
      << db << " now holds " << store.WaybillCount() << " waybills\n";
  return kExitOk;
}

int Add(const ParsedArgs& parsed, std::ostream& out) {
  if (parsed.positional.size() != 3)
    throw UsageError("add needs NUMBER \"YYYY-MM-DD HH:MM:SS\" TEXT");
  std::string db = RequireDb(parsed);
  InputEncoding encoding = EncodingOption(parsed);
  TrackingEvent event;
  std::string* fields[] = {&event.number, &event.time, &event.text};
  for (size_t k = 0; k < 3; ++k) {
    auto utf8 = ToUtf8(parsed.positional[k], encoding);
    if (!utf8)
      throw UsageError("argument " + std::to_string(k + 1) + " is not valid " +
                       (encoding == InputEncoding::kGbk ? "GBK" : "UTF-8"));
    *fields[k] = *std::move(utf8);
  }
  if (std::string problem = CheckEvent(event); !problem.empty()) throw UsageError(problem);
  EventStore store(db);
  int added = store.AddEvents({event});
  out << (added ? "recorded" : "already recorded") << ": " << event.number << " " << event.time
      << "\n";
  return kExitOk;
}

int Import(const ParsedArgs& parsed, std::ostream& out, std::ostream& err) {
  if (parsed.positional.size() != 1) throw UsageError("import needs one EVENTS.csv file");
  std::string db = RequireDb(parsed);
  InputEncoding encoding = EncodingOption(parsed);
  const std::string& path = parsed.positional.front();
  std::error_code ignored;
  std::ifstream file(path, std::ios::binary);
  if (!std::filesystem::is_regular_file(path, ignored) || !file) {
    err << "tracking-endpoint: cannot read " << path << "\n";
    return kExitFailure;
  }
  std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (file.bad()) {
    err << "tracking-endpoint: cannot read " << path << "\n";
    return kExitFailure;
  }
  std::vector<TrackingEvent> events;
  try {
    events = ParseEventsCsv(content, encoding);
  } catch (const ImportError& e) {
    err << "tracking-endpoint: " << path << ": " << e.what() << "; nothing was imported\n";
    return kExitFailure;
  }
  if (events.empty()) {
    err << "tracking-endpoint: " << path << " holds no events; nothing was imported\n";
    return kExitFailure;
  }
  EventStore store(db);
  int added = store.AddEvents(events);
  out << "imported " << added << " events from " << path << " (" << events.size() - added
      << " already recorded)\n";
  return kExitOk;
}

}  // namespace

int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) {
    err << kUsage;
    return kExitUsage;
  }
  const std::string& command = args.front();
  if (command == "help" || command == "--help" || command == "-h") {
    out << kUsage;
    return kExitOk;
  }
  try {
    if (command == "serve")
      return Serve(ParseArgs(args, 1, {"db", "listen", "latency-ms", "threads"}), out, err);
    if (command == "demo") return Demo(ParseArgs(args, 1, {"db"}), out);
    if (command == "add") return Add(ParseArgs(args, 1, {"db", "encoding"}), out);
    if (command == "import") return Import(ParseArgs(args, 1, {"db", "encoding"}), out, err);
    throw UsageError("unknown command \"" + command + "\"");
  } catch (const UsageError& e) {
    err << "tracking-endpoint: " << e.what() << "\n" << kUsage;
    return kExitUsage;
  } catch (const std::exception& e) {
    err << "tracking-endpoint: " << e.what() << "\n";
    return kExitFailure;
  }
}

}  // namespace korvanel::endpoint
