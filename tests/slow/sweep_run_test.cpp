// Whole sweeps over the bundled example b.cci on a coarse grid (N = 20 and a given first
// step of 0.1 nm, so that every combination runs in a moment: the sweep is under test, not
// the grid), run by the real engines: GNU parallel on this machine, and a single-node Slurm
// started for the test. Half of the first sweep's combinations carry a backward rate
// constant of 1e200 m/s at the left edge, whose integration fails at every point; they must
// be recorded as failed and leave the others running.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>

#include <chrono>
#include <thread>

#include "test_util.h"

namespace fs = std::filesystem;
using testutil::read_file;
using testutil::run_command;
using testutil::write_file;

namespace {

std::string sweep_command(const fs::path& dir, const std::string& args,
                          const std::string& env = "") {
    return "cd '" + dir.string() + "' && " + env + "'" TAVOLINE_EXE "' sweep " + args +
           " </dev/null";
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

void copy_example(const fs::path& dir) {
    std::string text = read_file(fs::path(TAVOLINE_EXAMPLES) / "b.cci");
    const std::string automatic = "(0=authomatic) :\n0 0 0 0 0\n";
    text.replace(text.find(automatic), automatic.size(), "(0=authomatic) :\n0 0 0 0 1e-10\n");
    write_file(dir / "b.cci", text);
}

TEST(SweepRun, GnuParallelRecordsFailuresAndResumes) {
    testutil::ScratchDir scratch("sweep");
    const fs::path dir = scratch.path();
    copy_example(dir);
    write_file(dir / "t.sweep", "base b\nN[1] 20\nd[1] 5e-6 1e-5\nKib[1,0] 0.001 1e200\n");

    auto r = run_command(sweep_command(dir, "plan t.sweep"));
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(read_file(dir / "t_sweep/sweep.csv"),
              "id,folder,N[1],d[1],\"Kib[1,0]\"\n"
              "1,c0001,20,5e-06,0.001\n2,c0002,20,5e-06,1e+200\n"
              "3,c0003,20,1e-05,0.001\n4,c0004,20,1e-05,1e+200\n");

    r = run_command(sweep_command(dir, "run -j 2 t.sweep"));
    EXPECT_EQ(r.status, 2) << r.output;
    EXPECT_TRUE(contains(r.output, "2 finished, 2 failed, 0 missing")) << r.output;

    r = run_command(sweep_command(dir, "collect t.sweep"));
    ASSERT_EQ(r.status, 0) << r.output;
    const std::string results = read_file(dir / "t_sweep/sweep_results.csv");
    EXPECT_TRUE(contains(results, "\n2,c0002,20,5e-06,1e+200,failed,point 1: the step size "
                                  "became too small (code -3),,,,"))
        << results;
    // On this coarse grid point 1 goes through negative concentrations: a finish with
    // warnings, which the sweep counts as finished (above).
    EXPECT_TRUE(contains(results, "\n3,c0003,20,1e-05,0.001,finished with warnings,,18.5"))
        << results;
    EXPECT_TRUE(contains(read_file(dir / "t_sweep/sweep_plot.svg"), "</svg>"));

    // A removed combination is planned and run again, and only that one.
    const fs::path kept = dir / "t_sweep/c0001/b/summary.json";
    const auto keptTime = fs::last_write_time(kept);
    fs::remove_all(dir / "t_sweep/c0003");
    r = run_command(sweep_command(dir, "run t.sweep"));
    EXPECT_TRUE(contains(r.output, "Running 1 combinations")) << r.output;
    EXPECT_TRUE(contains(r.output, "c0003: finished")) << r.output;
    EXPECT_EQ(fs::last_write_time(kept), keptTime);

    r = run_command(sweep_command(dir, "run --retry-failed t.sweep"));
    EXPECT_TRUE(contains(r.output, "Running 2 combinations")) << r.output;
    r = run_command(sweep_command(dir, "collect --plot final_potential_mV_5 --against d[1] t.sweep"));
    EXPECT_TRUE(contains(r.output, "2 finished, 2 failed, 0 missing")) << r.output;
}

// A port nobody listens on now, chosen by the system.
int free_port() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    close(fd);
    return ntohs(addr.sin_port);
}

// munged, slurmctld and slurmd on 127.0.0.1 with their configuration, key, state and logs in
// a temporary folder; the daemons it started are stopped by their pids when it goes.
class LocalSlurm {
  public:
    explicit LocalSlurm(const fs::path& dir) : dir_(dir) {
        fs::create_directories(dir / "state");
        fs::create_directories(dir / "spool");
        const std::string d = dir.string();
        std::string key(1024, '\0');
        std::random_device rd;
        for (char& ch : key) ch = static_cast<char>(rd());
        write_file(dir / "munge.key", key);
        fs::permissions(dir / "munge.key", fs::perms::owner_read);
        write_file(dir / "slurm.conf",
                   "ClusterName=tavoline\nSlurmctldHost=localhost(127.0.0.1)\n"
                   "SlurmUser=root\nSlurmdUser=root\n"
                   "SlurmctldPort=" + std::to_string(free_port()) + "\n"
                   "SlurmdPort=" + std::to_string(free_port()) + "\n"
                   "AuthType=auth/munge\nCredType=cred/munge\nAuthInfo=socket=" + d + "/munge.sock\n"
                   "StateSaveLocation=" + d + "/state\nSlurmdSpoolDir=" + d + "/spool\n"
                   "SlurmctldPidFile=" + d + "/slurmctld.pid\nSlurmdPidFile=" + d + "/slurmd.pid\n"
                   "SlurmctldLogFile=" + d + "/slurmctld.log\nSlurmdLogFile=" + d + "/slurmd.log\n"
                   "ProctrackType=proctrack/linuxproc\nTaskPlugin=task/none\n"
                   "SchedulerType=sched/builtin\nSelectType=select/cons_tres\n"
                   "SelectTypeParameters=CR_Core\nReturnToService=2\nMpiDefault=none\n"
                   "JobAcctGatherType=jobacct_gather/none\n"
                   "AccountingStorageType=accounting_storage/none\n"
                   "NodeName=localhost NodeAddr=127.0.0.1 CPUs=2 State=UNKNOWN\n"
                   "PartitionName=test Nodes=localhost Default=YES MaxTime=INFINITE State=UP\n");
        env_ = "SLURM_CONF='" + d + "/slurm.conf' ";
        start("munged --key-file='" + d + "/munge.key' --socket='" + d + "/munge.sock' --pid-file='" +
                  d + "/munged.pid' --log-file='" + d + "/munged.log' --seed-file='" + d +
                  "/munge.seed' --force",
              "munged.pid");
        start(env_ + "slurmctld", "slurmctld.pid");
        start(env_ + "slurmd -N localhost", "slurmd.pid");
        for (int i = 0; i < 300 && problem_.empty(); ++i) {
            if (run_command(env_ + "sinfo -h -o %t").output == "idle\n") return;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        if (problem_.empty()) problem_ = "the node did not become idle within 60 s";
    }
    ~LocalSlurm() {
        for (auto it = pids_.rbegin(); it != pids_.rend(); ++it) {
            kill(*it, SIGTERM);
            for (int i = 0; i < 100 && kill(*it, 0) == 0; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (kill(*it, 0) == 0) kill(*it, SIGKILL);
        }
    }
    LocalSlurm(const LocalSlurm&) = delete;
    LocalSlurm& operator=(const LocalSlurm&) = delete;

    // Why the cluster is not usable; empty when it is.
    const std::string& problem() const { return problem_; }
    const std::string& env() const { return env_; }

  private:
    // Starts a daemon that puts itself in the background and writes its pid file.
    void start(const std::string& command, const std::string& pidFile) {
        if (!problem_.empty()) return;
        const auto r = run_command(command);
        for (int i = 0; i < 50 && !fs::exists(dir_ / pidFile); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const pid_t pid = static_cast<pid_t>(std::atoi(read_file(dir_ / pidFile).c_str()));
        if (pid > 0) pids_.push_back(pid);
        if (r.status != 0 || pid <= 0)
            problem_ = "`" + command + "` did not start (status " + std::to_string(r.status) +
                       "): " + r.output;
    }

    fs::path dir_;
    std::string env_;
    std::vector<pid_t> pids_;
    std::string problem_;
};

TEST(SweepRun, SlurmJobArray) {
    testutil::ScratchDir scratch("slurm");
    const fs::path dir = scratch.path();
    if (geteuid() != 0) GTEST_SKIP() << "a Slurm node with SlurmdUser=root needs root";
    LocalSlurm slurm(dir / "cluster");
    if (!slurm.problem().empty()) GTEST_SKIP() << "Slurm could not start: " << slurm.problem();
    copy_example(dir);
    write_file(dir / "t.sweep", "base b\nN[1] 20\nd[1] 5e-6 1e-5\n");
    auto r = run_command(
        sweep_command(dir, "run --slurm --wait --max-running 2 --time 5:00 t.sweep", slurm.env()));
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(contains(read_file(dir / "t_sweep/t.sbatch"), "\n#SBATCH --array=1-2%2\n"));
    r = run_command(sweep_command(dir, "collect t.sweep"));
    EXPECT_TRUE(contains(r.output, "2 finished, 0 failed, 0 missing")) << r.output;
    EXPECT_TRUE(fs::exists(dir / "t_sweep/c0002/b/summary.json"));
}

}  // namespace
