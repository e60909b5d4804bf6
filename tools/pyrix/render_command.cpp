// pyrix render: frames through the plug-in's render commands on the host threads, written as
// files, one animated file or a contact sheet.
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "tools/pyrix/animated_image.h"
#include "tools/pyrix/contact_sheet.h"
#include "tools/pyrix/frame_order.h"
#include "tools/pyrix/frame_scheduler.h"
#include "tools/pyrix/host_gpu.h"
#include "tools/pyrix/image_writers.h"
#include "tools/pyrix/loaded_effect.h"
#include "tools/pyrix/subcommands.h"

namespace pyrix::preview {
namespace {

// Thumbnails of the contact sheet fit in this box.
constexpr int32_t kThumbnailWidth = 240;
constexpr int32_t kThumbnailHeight = 180;

class ProgressBar {
  public:
    ProgressBar(std::ostream& err, bool enabled, int32_t total)
        : err_(err), enabled_(enabled), total_(total) {}

    void Update(int32_t done) {
        if (!enabled_) return;
        constexpr int kWidth = 40;
        const int filled = static_cast<int>(static_cast<int64_t>(kWidth) * done / total_);
        err_ << "\r[" << std::string(static_cast<size_t>(filled), '#')
             << std::string(static_cast<size_t>(kWidth - filled), '.') << "] " << done << "/"
             << total_ << " frames" << std::flush;
    }
    void Finish() {
        if (enabled_) err_ << "\n";
    }

  private:
    std::ostream& err_;
    bool enabled_;
    int32_t total_;
};

bool CreateOutputFolders(const RenderJob& job, std::ostream& err) {
    for (const std::string& path : {job.outputPattern, job.contactSheet}) {
        if (path.empty()) continue;
        const auto folder = std::filesystem::u8path(path).parent_path();
        std::error_code ec;
        if (!folder.empty()) std::filesystem::create_directories(folder, ec);
        if (ec) {
            err << "pyrix: cannot create " << folder.u8string() << ": " << ec.message() << "\n";
            return false;
        }
    }
    return true;
}

// One frame rendered and, when asked for, written to its file.
struct FrameOutcome {
    CommandResult result;
    FrameImage image;
    std::string writeError;  // also a frame too large for memory

    bool ok() const { return result.ok() && writeError.empty(); }
};

FrameOutcome RenderAndWriteFrame(EffectHost& host, const RenderJob& job, int32_t frame,
                                 const std::atomic<bool>& cancel) {
    FrameOutcome outcome;
    try {
        outcome.result = host.RenderFrame(job.settings, frame, &cancel, &outcome.image);
        if (outcome.result.ok() && !job.outputPattern.empty() && !WritesAnimation(job)) {
            WriteImageFile(ExpandFramePattern(job.outputPattern, frame), outcome.image);
        }
    } catch (const std::bad_alloc&) {
        const PF_LRect r = job.settings.Request();
        outcome.writeError = "out of memory for a frame of " + std::to_string(r.right - r.left) +
                             "x" + std::to_string(r.bottom - r.top);
    } catch (const std::exception& e) {
        outcome.writeError = e.what();
    }
    return outcome;
}

void ReportFrameFailure(std::ostream& err, int32_t frame, const FrameOutcome& outcome) {
    if (!outcome.result.ok()) {
        ReportFailure(err, outcome.result, "frame " + std::to_string(frame) + ": ");
    } else {
        err << "pyrix: frame " << frame << ": " << outcome.writeError << "\n";
    }
}

// What the frame threads share; the mutex guards the counts and thumbnails.
struct RenderTally {
    std::mutex mutex;
    int32_t written = 0;
    int32_t failed = 0;
    int32_t abandoned = 0;     // frames started first and given up by the effect (--abandon-after)
    int32_t notWaitedFor = 0;  // of those, given up while the host's GPU was held (not waited for)
    std::vector<Thumbnail> thumbnails;
    // The animated file, and its frames put in order: those that finish early wait there.
    std::unique_ptr<AnimatedImage> animation;
    std::unique_ptr<InOrderFrames> order;
};

struct FrameRun {
    EffectHost& host;
    HostGpu* gpu;  // null without --host-gpu
    const RenderJob& job;
    RenderTally& tally;
    ProgressBar& bar;
    std::ostream& err;
    bool progress;
    const std::atomic<bool>& cancel;
};

// Long enough for an effect to give a frame up once told to; an effect that waits for its
// work instead gets the queue back after this, so that the run goes on.
constexpr auto kGiveUpWithin = std::chrono::seconds(3);

// The frame started and abandoned first (--abandon-after): the host's abort answers yes from
// that many milliseconds on. Counts whether the effect gave it up and, with the host's GPU held
// meanwhile (its work cannot end), whether it returned without waiting for that work.
void AbandonFrame(FrameRun& run, int32_t frame) {
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable changed;
    bool returned = false;
    if (run.gpu != nullptr) run.gpu->HoldQueue();
    std::thread clock([&] {
        std::unique_lock<std::mutex> lock(mutex);
        const auto done = [&] { return returned; };
        if (changed.wait_for(lock, std::chrono::milliseconds(run.job.abandonAfterMs), done)) return;
        stop = true;
        if (!changed.wait_for(lock, kGiveUpWithin, done) && run.gpu != nullptr) {
            run.gpu->ReleaseQueue();
        }
    });
    const auto join = [&] {
        {
            std::lock_guard<std::mutex> lock(mutex);
            returned = true;
        }
        changed.notify_all();
        clock.join();
    };
    CommandResult result;
    bool held = false;
    try {
        FrameImage image;
        result = run.host.RenderFrame(run.job.settings, frame, &stop, &image);
        held = run.gpu != nullptr && run.gpu->ReleaseQueue();
    } catch (...) {
        if (run.gpu != nullptr) run.gpu->ReleaseQueue();
        join();
        throw;
    }
    join();
    if (result.error != PF_Interrupt_CANCEL) return;
    std::lock_guard<std::mutex> lock(run.tally.mutex);
    ++run.tally.abandoned;
    run.tally.notWaitedFor += held ? 1 : 0;
}

void CountFailure(FrameRun& run, int32_t frame, const FrameOutcome& outcome) {
    std::lock_guard<std::mutex> lock(run.tally.mutex);
    ++run.tally.failed;
    if (run.progress) run.err << "\n";
    ReportFrameFailure(run.err, frame, outcome);
}

// One frame on a host thread: rendered, written or added to the animation, and counted.
bool RenderCountedFrame(FrameRun& run, int32_t frame) {
    InOrderFrames::Turn turn(run.tally.order.get(), frame);
    if (!turn) return false;
    if (run.job.abandonAfterMs > 0) AbandonFrame(run, frame);
    FrameOutcome outcome = RenderAndWriteFrame(run.host, run.job, frame, run.cancel);
    // A frame that the user's Ctrl-C cancelled is not a failure.
    if (outcome.result.error == PF_Interrupt_CANCEL && run.cancel.load()) return false;
    if (!outcome.ok()) {
        CountFailure(run, frame, outcome);
        return false;
    }
    Thumbnail thumbnail;
    if (!run.job.contactSheet.empty()) {
        thumbnail = {frame, MakeThumbnail(outcome.image, kThumbnailWidth, kThumbnailHeight)};
    }
    try {
        turn.Add(std::move(outcome.image));
    } catch (const std::exception& e) {
        outcome.writeError = e.what();
        CountFailure(run, frame, outcome);
        return false;
    }
    std::lock_guard<std::mutex> lock(run.tally.mutex);
    ++run.tally.written;
    if (!run.job.contactSheet.empty()) run.tally.thumbnails.push_back(std::move(thumbnail));
    run.bar.Update(run.tally.written);
    return true;
}

// The animated file's encoder and the order its frames join it in; false when it cannot start.
bool StartAnimation(const RenderJob& job, RenderTally* tally, std::ostream& err) {
    const PF_LRect r = job.settings.Request();
    try {
        tally->animation =
            std::make_unique<AnimatedImage>(r.right - r.left, r.bottom - r.top, job.settings.fps);
    } catch (const std::exception& e) {
        err << "pyrix: " << e.what() << "\n";
        return false;
    }
    // Beside the frames in flight, as many finished ones may wait for a slower one before it.
    AnimatedImage* animation = tally->animation.get();
    tally->order = std::make_unique<InOrderFrames>(
        job.firstFrame, static_cast<size_t>(job.threads),
        [animation](const FrameImage& image) { animation->Add(image); });
    return true;
}

bool WriteContactSheet(const std::string& path, std::vector<Thumbnail> thumbnails,
                       std::ostream& err) {
    try {
        WriteImageFile(path, ComposeContactSheet(std::move(thumbnails)));
    } catch (const std::exception& e) {
        err << "pyrix: " << e.what() << "\n";
        return false;
    }
    return true;
}

// What is written only after the last frame: the animated file and the contact sheet.
bool WriteCollected(const RenderJob& job, RenderTally* tally, std::ostream& err) {
    if (tally->animation) {
        try {
            tally->animation->Write(job.outputPattern);
        } catch (const std::exception& e) {
            err << "pyrix: " << e.what() << "\n";
            return false;
        }
    }
    return job.contactSheet.empty() ||
           WriteContactSheet(job.contactSheet, std::move(tally->thumbnails), err);
}

void PrintRenderSummary(std::ostream& out, const RenderJob& job, const RenderTally& tally,
                        double seconds) {
    const int32_t written = tally.written;
    const PF_LRect request = job.settings.Request();
    out << "pyrix: " << written << " frames of " << (request.right - request.left) << "x"
        << (request.bottom - request.top) << " at " << job.settings.depth << " bits ("
        << (job.settings.legacy ? "legacy render"
            : job.hostGpu       ? "smart render on the host's GPU"
                                : "smart render")
        << ", " << job.threads << (job.threads == 1 ? " thread" : " threads") << ") in "
        << Fixed(seconds, 2) << " s, " << Fixed(seconds * 1000.0 / written, 1) << " ms/frame";
    if (!job.outputPattern.empty()) {
        out << (WritesAnimation(job) ? "; animated: " : "; files: ") << job.outputPattern;
    }
    if (!job.contactSheet.empty()) out << "; contact sheet: " << job.contactSheet;
    out << "\n";
    if (job.abandonAfterMs > 0) {
        out << "pyrix: the effect gave up " << tally.abandoned << " of the frames abandoned after "
            << job.abandonAfterMs << " ms";
        if (job.hostGpu) out << ", " << tally.notWaitedFor << " without waiting for the host's GPU";
        out << "\n";
    }
}

// The frames in job.gpuRounds rounds, the host's GPU device set down and offered again between
// them, as a host does when devices come and go; without a device, all frames at once.
bool RenderInRounds(const RenderJob& job, HostGpu* gpu,
                    const std::function<bool(int32_t)>& renderFrame,
                    const std::atomic<bool>& cancel, std::ostream& err) {
    const int32_t rounds = gpu == nullptr ? 1 : job.gpuRounds;
    const int64_t total = int64_t(job.lastFrame) - job.firstFrame + 1;
    for (int32_t round = 0; round < rounds; ++round) {
        if (round > 0 && (!gpu->Stop(err) || !gpu->Restart(err))) return false;
        const auto first = static_cast<int32_t>(job.firstFrame + total * round / rounds);
        const auto last = static_cast<int32_t>(job.firstFrame + total * (round + 1) / rounds - 1);
        if (first <= last) RenderFrames(first, last, job.threads, renderFrame, cancel);
    }
    return true;
}

}  // namespace

int RunRender(const CommandLine& line, std::ostream& out, std::ostream& err,
              const std::atomic<bool>& cancel, bool progress) {
    const RenderJob& job = line.render;
    LoadedEffect effect;
    if (!LoadEffect(line.pluginPath, err, &effect)) return kExitFailed;
    if (!CreateOutputFolders(job, err)) return kExitFailed;
    std::unique_ptr<HostGpu> gpu;
    if (job.hostGpu && (gpu = StartHostGpu(*effect.host, err)) == nullptr) {
        Setdown(effect, err);
        return kExitFailed;
    }
    // The GPU worlds come back only for what is written.
    if (gpu != nullptr) gpu->SetReadBack(!job.outputPattern.empty() || !job.contactSheet.empty());

    const int32_t total = job.lastFrame - job.firstFrame + 1;
    RenderTally tally;
    if (WritesAnimation(job) && !StartAnimation(job, &tally, err)) {
        Setdown(effect, err);
        return kExitFailed;
    }
    ProgressBar bar(err, progress, total);
    bar.Update(0);

    const auto start = std::chrono::steady_clock::now();
    FrameRun run{*effect.host, gpu.get(), job, tally, bar, err, progress, cancel};
    const bool roundsOk = RenderInRounds(
        job, gpu.get(), [&run](int32_t frame) { return RenderCountedFrame(run, frame); }, cancel,
        err);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    bar.Finish();

    const bool gpuSetdownOk = (gpu == nullptr || gpu->Stop(err)) && roundsOk;
    if (gpu != nullptr) {
        out << "pyrix: " << gpu->GpuFrames() << " frames rendered on the host's GPU device\n";
    }
    gpu.reset();
    const bool setdownOk = Setdown(effect, err) && gpuSetdownOk;
    if (cancel.load()) {
        err << "pyrix: interrupted; " << tally.written << " of " << total
            << " frames were written, none in part\n";
        return kExitInterrupted;
    }
    if (tally.failed > 0) {
        err << "pyrix: stopped after a failed frame; " << tally.written << " of " << total
            << " frames written\n";
        return kExitFailed;
    }
    if (!WriteCollected(job, &tally, err)) return kExitFailed;
    PrintRenderSummary(out, job, tally, seconds);
    return setdownOk ? kExitOk : kExitFailed;
}

}  // namespace pyrix::preview
