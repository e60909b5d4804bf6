#include "standins/host_simulator/simulator.h"

#include <algorithm>
#include <stdexcept>

#include "standins/host_simulator/app_suite.h"
#include "standins/host_simulator/host_tables.h"
#include "standins/host_simulator/simulator_internal.h"

namespace host_sim {

// ---- Records ------------------------------------------------------------------------------------

Command::Command(Simulator& owner) : simulator(owner) {
    host_abi::FillUnserved(in.inter);
    host_abi::FillUnserved(pre);
    host_abi::FillUnserved(smart);
    host_abi::FillHostFields(in);
    in.effect_ref = reinterpret_cast<PF_ProgPtr>(this);
    in.utils = &owner.utils_;
    in.pica_basicP = &owner.basic_suite_;
    in.downsample_x = {1, 1};
    in.downsample_y = {1, 1};
    in.time_step = kTicksPerFrame;
    in.local_time_step = kTicksPerFrame;
    in.time_scale = 24 * kTicksPerFrame;  // until a render brings its own frame rate
    std::lock_guard<std::mutex> lock(owner.mutex_);
    in.global_data = owner.globalData_;
    in.num_params = std::max<A_long>(owner.numParams_, 1);  // the input layer at least
    owner.commands_.insert(this);
    owner.Serve(*this);
}

Command::~Command() {
    std::lock_guard<std::mutex> lock(simulator.mutex_);
    simulator.commands_.erase(this);
}

// ---- The host -----------------------------------------------------------------------------------

Simulator::Simulator(Profile profile) : profile_(profile), records_(*this) {
    Simulator* expected = nullptr;
    if (!gCurrent.compare_exchange_strong(expected, this)) {
        throw std::logic_error("only one host simulator may exist at a time");
    }
    // Every slot filled; what is not served stops the program or is noted, by profile.
    host_abi::FillUnserved(utils_);
    host_abi::FillUnserved(basic_suite_);
    host_abi::FillUnserved(effect_ui_suite_);
    if (profile_ == Profile::kFull) {
        host_abi::gUnservedHandler = NoteUnservedSlot;
        ServeCLibrary(utils_);
        ServeMemoryBlocks(basic_suite_);
        // No user interface: it renders like a render engine, in neutral grey.
        app_suite_ = std::make_unique<AppSuite>(*this);
        app_suite_->SetRenderEngine(true);
        app_suite_->SetDefaultColor({0x2020, 0x2020, 0x2020});
    }
    ProvideSuite(kPFEffectUISuite, kPFEffectUISuiteVersion1, &effect_ui_suite_);
    std::lock_guard<std::mutex> lock(mutex_);
    ServeShared();
    Serve(records_);

    // The records tests hand over: a 1920x1080 layer at full resolution, 30 frames a second.
    PF_InData& in = records_.in;
    in.time_step = 1;
    in.local_time_step = 1;
    in.time_scale = 30;
    in.total_time = 300;
    in.width = 1920;
    in.height = 1080;
    in.extent_hint = {0, 0, 1920, 1080};
    in.num_params = 8;
    records_.refWidth = 1920;
    records_.refHeight = 1080;
}

Simulator::~Simulator() {
    app_suite_.reset();
    if (profile_ == Profile::kFull) host_abi::gUnservedHandler = nullptr;
    gCurrent.store(nullptr);
}

Simulator& Simulator::Current() {
    Simulator* host = gCurrent.load();
    if (host == nullptr) throw std::logic_error("no host simulator alive");
    return *host;
}

void Simulator::NoteUnservedSlot(const char* slot) {
    if (Simulator* host = gCurrent.load()) {
        host->NoteUnserved(std::string(slot) + " (answered " +
                           std::to_string(PF_Err_INVALID_CALLBACK) + ")");
    }
}

void Simulator::NoteUnserved(const std::string& what) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (std::find(unserved_.begin(), unserved_.end(), what) == unserved_.end()) {
        unserved_.push_back(what);
    }
}

void Simulator::SetMissing(Callback callback, bool missing) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (missing) {
        missing_.insert(callback);
    } else {
        missing_.erase(callback);
    }
    ServeShared();
    Serve(records_);
}

void Simulator::SetBasicSuiteMissing(bool missing) {
    std::lock_guard<std::mutex> lock(mutex_);
    records_.in.pica_basicP = missing ? nullptr : &basic_suite_;
}

void Simulator::ProvideSuite(const std::string& name, int32_t version, const void* table) {
    std::lock_guard<std::mutex> lock(mutex_);
    SuiteEntry& entry = suites_[{name, version}];
    entry.provided = true;
    entry.table = table;
    entry.failure = 0;
}

void Simulator::RemoveSuite(const std::string& name, int32_t version) {
    std::lock_guard<std::mutex> lock(mutex_);
    SuiteEntry& entry = suites_[{name, version}];
    entry.provided = false;
    entry.table = nullptr;
}

// ---- Sending commands ---------------------------------------------------------------------------

void Simulator::SetEffect(PF_PluginDataEntryFunc2 dataEntry, PF_EffectMainFunc effectMain) {
    data_entry_ = dataEntry;
    effect_main_ = effectMain;
}

CommandResult Simulator::Call(PF_Cmd cmd, Command& command, PF_ParamDef** params,
                              PF_LayerDef* output, void* extra) {
    PF_OutData out{};
    out.global_data = command.in.global_data;
    out.num_params = command.in.num_params;
    const PF_Err error = effect_main_(cmd, &command.in, &out, params, output, extra);
    CommandResult result{cmd, error, Bounded(out.return_msg, sizeof out.return_msg),
                         out.out_flags2};
    // The plug-in's global data comes back with every later command, until global set-down.
    std::lock_guard<std::mutex> lock(mutex_);
    if (cmd == PF_Cmd_GLOBAL_SETUP) globalData_ = out.global_data;
    if (cmd == PF_Cmd_GLOBAL_SETDOWN) globalData_ = nullptr;
    if (cmd == PF_Cmd_GLOBAL_SETUP && result.ok()) {
        version_ = out.my_version;
        outFlags_ = out.out_flags;
        outFlags2_ = out.out_flags2;
    }
    if (cmd == PF_Cmd_PARAMS_SETUP) numParams_ = out.num_params;
    return result;
}

CommandResult Simulator::Send(PF_Cmd cmd) {
    if (cmd == PF_Cmd_PARAMS_SETUP) {
        std::lock_guard<std::mutex> lock(mutex_);
        books_.added_params.clear();
        books_.button_names.clear();
        books_.registered_ui.clear();
    }
    Command command(*this);
    command.acceptsParams = cmd == PF_Cmd_PARAMS_SETUP;
    return Call(cmd, command, nullptr, nullptr, nullptr);
}

CommandResult Simulator::GpuDeviceSetup(PF_GPU_Framework what_gpu, A_u_long device_index,
                                        void** gpu_data) {
    Command command(*this);
    PF_GPUDeviceSetupInput input{what_gpu, device_index};
    PF_GPUDeviceSetupOutput output{};
    PF_GPUDeviceSetupExtra extra{&input, &output};
    CommandResult result = Call(PF_Cmd_GPU_DEVICE_SETUP, command, nullptr, nullptr, &extra);
    if (gpu_data != nullptr) *gpu_data = output.gpu_data;
    return result;
}

CommandResult Simulator::GpuDeviceSetdown(void* gpu_data, PF_GPU_Framework what_gpu,
                                          A_u_long device_index) {
    Command command(*this);
    PF_GPUDeviceSetdownInput input{gpu_data, what_gpu, device_index};
    PF_GPUDeviceSetdownExtra extra{&input};
    return Call(PF_Cmd_GPU_DEVICE_SETDOWN, command, nullptr, nullptr, &extra);
}

CommandResult Simulator::About(std::string* text) {
    CommandResult result = Send(PF_Cmd_ABOUT);
    if (text != nullptr) {
        *text = result.message;
        std::replace(text->begin(), text->end(), '\r', '\n');
    }
    return result;
}

}  // namespace host_sim
