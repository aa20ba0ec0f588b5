// Many panel services on one machine, as a site with several controllers runs them: each the
// real program headless, with a state folder, site settings, socket and web panel of its own, its
// own simulated controller on its own pseudo-terminal, all publishing to one real mosquitto
// started here. Measured once they have settled, over a window of one MQTT refresh (the default
// KeepAlive's 2 × 30 s, so that every service resends its whole state once in it): each
// service's CPU (utime + stime) as a share of one core, and its memory (Rss, and Pss, which
// splits shared pages among their users). Sixteen against one alone, the second case with the
// simulators making events.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <mosquitto.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/loopback_servers.h"
#include "tests/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kWindow = 60s;  // 2 × the default KeepAlive: one full resend per service
constexpr auto kStartWithin = 30s;
constexpr auto kNoReplySeconds = 5s;  // the link watch's default: silence longer shows as no-reply
constexpr const char* kTopicRoot = "orvbench";

// A child whose output goes to a file; stopped (TERM, then KILL) when it goes out of scope, and
// killed by the kernel should the benchmark itself die.
class Process {
 public:
  Process(std::vector<std::string> args, const fs::path& log) : log_(log) {
    std::vector<char*> argv;
    for (std::string& arg : args)
      argv.push_back(arg.data());
    argv.push_back(nullptr);
    const std::string log_name = log.string();
    const pid_t parent = getpid();
    sigset_t none;
    sigemptyset(&none);
    pid_ = fork();
    if (pid_ == 0) {
      // Only async-signal-safe calls here: the benchmark has a broker client's thread.
      sigprocmask(SIG_SETMASK, &none, nullptr);  // the benchmark's waits hold INT and TERM
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent) _exit(127);
      const int null = open("/dev/null", O_RDONLY);
      const int out = open(log_name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (null < 0 || out < 0 || dup2(null, 0) < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0)
        _exit(127);
      execv(argv[0], argv.data());
      _exit(127);
    }
  }
  ~Process() {
    Signal(SIGTERM);
    for (const auto end = Clock::now() + 3s; Alive() && Clock::now() < end;)
      std::this_thread::sleep_for(10ms);
    Signal(SIGKILL);
    if (pid_ > 0 && !reaped_) waitpid(pid_, nullptr, 0);
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  pid_t pid() const { return pid_; }
  void Signal(int signal) {
    if (pid_ > 0 && !reaped_) kill(pid_, signal);
  }
  bool Alive() {
    if (pid_ <= 0 || reaped_) return false;
    reaped_ = waitpid(pid_, nullptr, WNOHANG) == pid_;
    return !reaped_;
  }
  // Its last lines, for a failure's message.
  std::string Tail() const {
    const std::string text = orv::test::ReadBytes(log_);
    std::size_t from = text.size();
    for (int lines = 0; lines < 4 && from > 1; ++lines)
      from = text.rfind('\n', from - 2) + 1;  // none: npos + 1, the start
    return text.substr(from);
  }

 private:
  fs::path log_;
  pid_t pid_ = -1;
  bool reaped_ = false;
};

// Ctrl+C or a TERM, held for the benchmark's waits while the object lives: a case interrupted
// stops what it started and removes its folder, and then the signal ends the benchmark.
class Interruptions {
 public:
  Interruptions() {
    sigemptyset(&held_);
    sigaddset(&held_, SIGINT);
    sigaddset(&held_, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &held_, &before_);
  }
  ~Interruptions() {
    pthread_sigmask(SIG_SETMASK, &before_, nullptr);
    if (caught_ > 0) raise(caught_);
  }
  Interruptions(const Interruptions&) = delete;
  Interruptions& operator=(const Interruptions&) = delete;

  // Waits for the span; false when a signal came first (or earlier).
  bool Wait(Clock::duration span) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(span).count();
    const timespec timeout{static_cast<time_t>(ns / 1000000000),
                           static_cast<long>(ns % 1000000000)};
    if (caught_ <= 0) caught_ = sigtimedwait(&held_, nullptr, &timeout);
    return caught_ <= 0;
  }

 private:
  sigset_t held_;
  sigset_t before_;
  int caught_ = -1;
};

// CPU seconds a process has used so far, its threads' included: utime + stime of /proc/PID/stat.
double CpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::size_t end_of_name = stat.rfind(')');
  if (end_of_name == std::string::npos) return -1;
  // After the name: field 3 (state) on; utime and stime are fields 14 and 15.
  std::istringstream fields(stat.substr(end_of_name + 2));
  std::string skip;
  for (int field = 3; field < 14; ++field)
    fields >> skip;
  long long utime = 0, stime = 0;
  fields >> utime >> stime;
  return fields ? double(utime + stime) / double(sysconf(_SC_CLK_TCK)) : -1;
}

struct Memory {
  double rss_kb = 0;
  double pss_kb = 0;
  double private_kb = 0;  // pages no other process maps: what ending it would give back
};

Memory MemoryOf(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/smaps_rollup");
  Memory memory;
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::string key;
    double kb = 0;
    fields >> key >> kb;
    if (key == "Rss:") memory.rss_kb = kb;
    if (key == "Pss:") memory.pss_kb = kb;
    if (key == "Private_Clean:" || key == "Private_Dirty:") memory.private_kb += kb;
  }
  return memory;
}

// What the services keep at the broker: every retained value under the root, and how many events
// each base topic sent. On libmosquitto's own thread.
class Watcher {
 public:
  explicit Watcher(int port) {
    mosquitto_lib_init();
    mosq_ = mosquitto_new(nullptr, true, this);
    mosquitto_connect_callback_set(mosq_, [](mosquitto* m, void*, int rc) {
      if (rc == 0) mosquitto_subscribe(m, nullptr, (std::string(kTopicRoot) + "/#").c_str(), 0);
    });
    mosquitto_subscribe_callback_set(mosq_, [](mosquitto*, void* self, int, int, const int*) {
      static_cast<Watcher*>(self)->subscribed_ = true;
    });
    mosquitto_message_callback_set(mosq_, [](mosquitto*, void* self, const mosquitto_message* m) {
      auto* watcher = static_cast<Watcher*>(self);
      const std::string topic = m->topic;
      const std::lock_guard<std::mutex> lock(watcher->mutex_);
      if (topic.ends_with("/event")) {
        ++watcher->events_[topic.substr(0, topic.size() - 6)];
      } else {
        watcher->values_[topic] =
            std::string(static_cast<const char*>(m->payload), std::size_t(m->payloadlen));
      }
    });
    mosquitto_connect(mosq_, "127.0.0.1", port, 30);
    mosquitto_loop_start(mosq_);
  }
  ~Watcher() {
    mosquitto_disconnect(mosq_);
    mosquitto_loop_stop(mosq_, true);
    mosquitto_destroy(mosq_);
    mosquitto_lib_cleanup();
  }
  Watcher(const Watcher&) = delete;
  Watcher& operator=(const Watcher&) = delete;

  bool subscribed() const { return subscribed_; }
  std::string Value(const std::string& topic) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto found = values_.find(topic);
    return found == values_.end() ? "(nothing)" : found->second;
  }
  long Events(const std::string& base) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto found = events_.find(base);
    return found == events_.end() ? 0 : found->second;
  }

 private:
  mosquitto* mosq_ = nullptr;
  std::atomic<bool> subscribed_{false};
  mutable std::mutex mutex_;
  std::map<std::string, std::string> values_;
  std::map<std::string, long> events_;
};

// One controller's service with its simulator, in a folder of its own.
struct Instance {
  std::string base;
  fs::path folder;
  int web_port = 0;
  std::unique_ptr<Process> sim;
  std::unique_ptr<Process> service;
};

// The broker, and the instances in the order they are stopped: services first.
struct Site {
  orv::test::TempFolder folder;
  int broker_port = orv::test::FreeLoopbackPort();
  std::unique_ptr<Process> broker;
  std::unique_ptr<Watcher> watcher;
  std::vector<Instance> instances;

  ~Site() {
    for (Instance& instance : instances)
      instance.service->Signal(SIGTERM);
    for (Instance& instance : instances)
      instance.service.reset();
    instances.clear();
    watcher.reset();
    broker.reset();
  }
};

// Why the site is not as measured ("" when it is): a service gone, its broker's status not
// online, its link not answering (the link watch says no-reply after a silence), no journal, no
// web panel.
std::string Problem(Site& site) {
  for (Instance& instance : site.instances) {
    const std::string status = site.watcher->Value(instance.base + "/status");
    const std::string link = site.watcher->Value(instance.base + "/link");
    std::string problem;
    if (!instance.service->Alive())
      problem = "the service ended";
    else if (!instance.sim->Alive())
      problem = "its simulator ended";
    else if (status != "online")
      problem = "its status at the broker is " + status;
    else if (link != "answering")
      problem = "its link is " + link;
    else if (!fs::exists(instance.folder / "DATA" / "Journal.sqlite"))
      problem = "no journal";
    else if (!orv::test::AcceptsConnections(instance.web_port))
      problem = "no web panel";
    if (!problem.empty())
      return instance.base + ": " + problem + "; it said: " + instance.service->Tail();
  }
  return "";
}

// Starts the broker and count instances, and waits until every one is as measured; the error
// when not.
std::string StartSite(Site& site, int count, bool events, Interruptions& stop) {
  const fs::path& root = site.folder.path();
  std::ofstream(root / "broker.conf") << "user root\nlistener " << site.broker_port
                                      << " 127.0.0.1\npersistence false\nallow_anonymous true\n"
                                      << "log_dest stderr\nlog_type error\nlog_type warning\n";
  site.broker = std::make_unique<Process>(
      std::vector<std::string>{"/usr/sbin/mosquitto", "-c", (root / "broker.conf").string()},
      root / "broker.log");
  for (const auto end = Clock::now() + 5s;
       !orv::test::AcceptsConnections(site.broker_port) && Clock::now() < end;)
    std::this_thread::sleep_for(20ms);
  if (!orv::test::AcceptsConnections(site.broker_port)) return "mosquitto did not start";
  site.watcher = std::make_unique<Watcher>(site.broker_port);
  for (const auto end = Clock::now() + 5s; !site.watcher->subscribed() && Clock::now() < end;)
    std::this_thread::sleep_for(20ms);
  if (!site.watcher->subscribed()) return "the benchmark's subscriber did not get to the broker";

  for (int i = 0; i < count; ++i) {
    Instance instance;
    instance.base = std::string(kTopicRoot) + "/i" + std::to_string(i);
    instance.folder = root / ("i" + std::to_string(i));
    instance.web_port = orv::test::FreeLoopbackPort();
    fs::create_directories(instance.folder);
    const fs::path link = instance.folder / "controller";
    // Events: the simulator's reports at its default pace, one every 2 s on average.
    instance.sim = std::make_unique<Process>(
        std::vector<std::string>{ORV_SIMULATOR, "--link", link.string(), "--seed",
                                 std::to_string(i + 1), "--report-interval", events ? "2" : "0"},
        instance.folder / "sim.log");
    const fs::path settings = instance.folder / "site.ini";
    std::ofstream(settings) << "[SerialPorts]\nCOM1=" << link.string() << "\n[MQTT]\n"
                            << "Broker=mqtt://127.0.0.1:" << site.broker_port << "\n"
                            << "Topic=" << instance.base << "\n[WebPanel]\n"
                            << "Listen=127.0.0.1:" << instance.web_port << "\n";
    for (const auto end = Clock::now() + 5s; !fs::exists(link) && Clock::now() < end;)
      std::this_thread::sleep_for(10ms);
    instance.service = std::make_unique<Process>(
        std::vector<std::string>{ORV_PROGRAM, "--headless", "--state-folder",
                                 instance.folder.string(), "--site-settings", settings.string(),
                                 "--socket", (instance.folder / "panel.sock").string()},
        instance.folder / "service.log");
    site.instances.push_back(std::move(instance));
  }
  std::string problem = Problem(site);
  for (const auto end = Clock::now() + kStartWithin; !problem.empty() && Clock::now() < end;) {
    if (!stop.Wait(100ms)) return "interrupted";
    problem = Problem(site);
  }
  if (!problem.empty()) return problem;
  // Past the link watch's silence: still answering means the simulators answer the polls.
  return stop.Wait(kNoReplySeconds + 1s) ? Problem(site) : "interrupted";
}

// Per process over the window: CPU as a share of one core, memory at its end.
struct Figures {
  double cpu_percent = 0;
  Memory memory;
};

struct SiteFigures {
  Figures service;  // the mean of the services
  Figures sim;      // the mean of the simulators
  Figures broker;
  double events_per_service = 0;
};

// Measures the settled site over the window; the error when it did not stay as measured.
std::string Measure(Site& site, SiteFigures& figures, Interruptions& stop) {
  std::vector<pid_t> pids{site.broker->pid()};
  for (const Instance& instance : site.instances) {
    pids.push_back(instance.service->pid());
    pids.push_back(instance.sim->pid());
  }
  std::vector<double> before;
  for (const pid_t pid : pids)
    before.push_back(CpuSeconds(pid));
  std::vector<long> events_before;
  for (const Instance& instance : site.instances)
    events_before.push_back(site.watcher->Events(instance.base));
  const auto start = Clock::now();
  if (!stop.Wait(kWindow)) return "interrupted";
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (std::string problem = Problem(site); !problem.empty()) return problem;

  const auto figures_of = [&](std::size_t at) {
    Figures f;
    f.cpu_percent = 100 * (CpuSeconds(pids[at]) - before[at]) / seconds;
    f.memory = MemoryOf(pids[at]);
    return f;
  };
  const double n = double(site.instances.size());
  const auto add = [n](Figures& sum, const Figures& f) {
    sum.cpu_percent += f.cpu_percent / n;
    sum.memory.rss_kb += f.memory.rss_kb / n;
    sum.memory.pss_kb += f.memory.pss_kb / n;
    sum.memory.private_kb += f.memory.private_kb / n;
  };
  figures = {};
  figures.broker = figures_of(0);
  for (std::size_t i = 0; i < site.instances.size(); ++i) {
    add(figures.service, figures_of(1 + 2 * i));
    add(figures.sim, figures_of(2 + 2 * i));
    figures.events_per_service +=
        double(site.watcher->Events(site.instances[i].base) - events_before[i]) / n;
  }
  return "";
}

// One site of count instances, started, measured and stopped; the error when it failed.
std::string RunSite(int count, bool events, SiteFigures& figures, Interruptions& stop) {
  const std::string what = count == 1 ? "one alone" : std::to_string(count) + " instances";
  Site site;
  if (std::string problem = StartSite(site, count, events, stop); !problem.empty())
    return what + ": " + problem;
  if (std::string problem = Measure(site, figures, stop); !problem.empty())
    return what + ", while measured: " + problem;
  if (events && figures.events_per_service < 1) return what + ": the simulators made no events";
  return "";
}

// Argument events: the simulators send reports (0: idle, the services only polling).
void BM_SixteenInstancesAgainstOne(benchmark::State& state) {
  const bool events = state.range(0) != 0;
  for (auto _ : state) {
    SiteFigures alone, sixteen;
    Interruptions stop;
    std::string problem = RunSite(1, events, alone, stop);
    if (problem.empty()) problem = RunSite(16, events, sixteen, stop);
    if (!problem.empty()) {
      state.SkipWithError(problem.c_str());
      return;
    }
    state.SetIterationTime(std::chrono::duration<double>(kWindow).count() * 2);
    const auto ratio = [](double many, double one) { return one > 0 ? many / one : 0; };
    auto& c = state.counters;
    c["cpu%_alone"] = alone.service.cpu_percent;
    c["cpu%_each_of_16"] = sixteen.service.cpu_percent;
    c["cpu_x"] = ratio(sixteen.service.cpu_percent, alone.service.cpu_percent);
    c["rss_kB_alone"] = alone.service.memory.rss_kb;
    c["rss_kB_each_of_16"] = sixteen.service.memory.rss_kb;
    c["rss_x"] = ratio(sixteen.service.memory.rss_kb, alone.service.memory.rss_kb);
    c["pss_kB_alone"] = alone.service.memory.pss_kb;
    c["pss_kB_each_of_16"] = sixteen.service.memory.pss_kb;
    c["pss_x"] = ratio(sixteen.service.memory.pss_kb, alone.service.memory.pss_kb);
    c["private_kB_alone"] = alone.service.memory.private_kb;
    c["private_kB_each_of_16"] = sixteen.service.memory.private_kb;
    c["sim_cpu%_each_of_16"] = sixteen.sim.cpu_percent;
    c["sim_pss_kB_each_of_16"] = sixteen.sim.memory.pss_kb;
    c["broker_cpu%_16"] = sixteen.broker.cpu_percent;
    c["broker_pss_kB_16"] = sixteen.broker.memory.pss_kb;
    if (events) c["events_each_of_16"] = sixteen.events_per_service;
  }
}
BENCHMARK(BM_SixteenInstancesAgainstOne)
    ->ArgName("events")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

}  // namespace
