// The pyrix program end to end: command line in, files, messages and exit code out.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <thread>
#include <tuple>
#include <utility>

#include "image_reader.h"
#include "test_support.h"

#ifdef PYRIX_HAVE_WEBP
#include <webp/demux.h>
#endif

extern char** environ;

namespace {

struct ProgramRun {
    int exitCode = -1;
    std::string out, err;
};

class Program {
  public:
    explicit Program(const TempFolder& folder) : folder_(folder) {}

    // Starts pyrix with `args`; the test effect logs to log().
    pid_t Start(const std::vector<std::string>& args) {
        std::vector<std::string> all = {PYRIX_PROGRAM};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);

        std::vector<std::string> env = {"PYRIX_TEST_LOG=" + log()};
        for (char** e = environ; *e != nullptr; ++e) {
            if (std::string(*e).rfind("PYRIX_TEST_LOG=", 0) != 0) env.emplace_back(*e);
        }
        std::vector<char*> envp;
        for (std::string& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, outPath().c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, errPath().c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        pid_t pid = -1;
        const int rc =
            posix_spawn(&pid, PYRIX_PROGRAM, &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        EXPECT_EQ(rc, 0);
        return pid;
    }

    ProgramRun Wait(pid_t pid) {
        int status = 0;
        waitpid(pid, &status, 0);
        ProgramRun run;
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
        run.out = ReadFileBytes(outPath());
        run.err = ReadFileBytes(errPath());
        return run;
    }

    ProgramRun operator()(const std::vector<std::string>& args) { return Wait(Start(args)); }

    std::string log() const { return folder_.path().parent_path().string() + "/" + tag() + ".log"; }

  private:
    std::string tag() const { return folder_.path().filename().string(); }
    std::string outPath() const {
        return folder_.path().parent_path().string() + "/" + tag() + ".out";
    }
    std::string errPath() const {
        return folder_.path().parent_path().string() + "/" + tag() + ".err";
    }

    const TempFolder& folder_;
};

class ProgramTest : public testing::Test {
  protected:
    ~ProgramTest() override {
        for (const char* ext : {".log", ".out", ".err"}) {
            std::filesystem::remove(folder_.path().string() + ext);
        }
    }
    ProgramRun Pyrix(std::vector<std::string> args) {
        args.insert(args.begin() + 1, {"--plugin", PYRIX_TEST_PLUGIN});
        return program_(args);
    }
    std::string File(const std::string& name) const { return folder_.file(name); }

    TempFolder folder_;
    Program program_{folder_};
};

TEST_F(ProgramTest, RenderWritesEachFrameWithThePluginsPixels) {
    const ProgramRun run = Pyrix({"render", "--size", "40x30", "--frames", "2-4", "--threads", "2",
                                  "-o", File("f_####.pam")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(folder_.names(),
              (std::vector<std::string>{"f_0002.pam", "f_0003.pam", "f_0004.pam"}));
    for (int frame = 2; frame <= 4; ++frame) {
        const DecodedImage image = ReadImage(File("f_000" + std::to_string(frame) + ".pam"));
        ASSERT_EQ(image.width, 40);
        ASSERT_EQ(image.height, 30);
        ASSERT_EQ(image.bits, 8);
        EXPECT_EQ(image.at(17, 9, 0), 17);  // R: layer x
        EXPECT_EQ(image.at(17, 9, 1), 9);   // G: layer y
        EXPECT_EQ(image.at(17, 9, 2), frame);
        EXPECT_EQ(image.at(17, 9, 3), 255);
    }
    EXPECT_NE(run.out.find("3 frames of 40x30 at 8 bits"), std::string::npos) << run.out;
    EXPECT_EQ(run.err, "");  // no progress bar when stderr is no terminal
}

struct FileCase {
    const char* depth;
    const char* extension;
    int32_t bits;
    double alpha;  // full scale in the file
    double red;    // layer x 300 as the file stores it
};

class ProgramFiles : public ProgramTest, public testing::WithParamInterface<FileCase> {};

TEST_P(ProgramFiles, FormatAndDepthOfTheFile) {
    const FileCase c = GetParam();
    const std::string name = std::string("f_0001") + c.extension;
    const ProgramRun run = Pyrix({"render", "--size", "320x8", "--frames", "1", "--depth", c.depth,
                                  "-o", File(std::string("f_####") + c.extension)});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const DecodedImage image = ReadImage(File(name));
    EXPECT_EQ(image.width, 320);
    EXPECT_EQ(image.height, 8);
    EXPECT_EQ(image.bits, c.bits);
    EXPECT_EQ(image.at(300, 5, 3), c.alpha);
    EXPECT_EQ(image.at(300, 5, 0), c.red);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, ProgramFiles,
    testing::Values(FileCase{"8", ".png", 8, 255, 300 & 255},
                    FileCase{"16", ".png", 16, 65535, std::floor((300 * 65535 + 16384) / 32768.0)},
                    FileCase{"32", ".exr", 32, 1, 300}, FileCase{"32", ".rgba32f", 32, 1, 300},
                    FileCase{"32", ".png", 16, 65535, 65535}),
    [](const testing::TestParamInfo<FileCase>& param) {
        return std::string(param.param.extension + 1) + "_" + param.param.depth;
    });

// One option, and the key of the test effect's log that shows its effect.
struct OptionCase {
    std::vector<std::string> args;
    const char* command;
    const char* key;
    const char* expected;
};

class ProgramOptions : public ProgramTest, public testing::WithParamInterface<OptionCase> {};

TEST_P(ProgramOptions, ReachThePlugin) {
    const OptionCase& c = GetParam();
    std::vector<std::string> args = {"render", "--size", "64x48", "--frames", "3"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ProgramRun run = Pyrix(args);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto lines = ReadPluginLog(program_.log(), c.command);
    ASSERT_EQ(lines.size(), 1u) << c.command;
    EXPECT_EQ(lines[0].at(c.key), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    EachOption, ProgramOptions,
    testing::Values(OptionCase{{}, "pre_render", "current_time", "200"},
                    OptionCase{{}, "pre_render", "time_scale", "2400"},
                    OptionCase{{"--size", "100x50"}, "pre_render", "width", "100"},
                    OptionCase{{"--size", "100x50"}, "pre_render", "request", "0,0,100,50"},
                    OptionCase{{"--frames", "9"}, "pre_render", "frame", "9"},
                    OptionCase{{"--fps", "29.97"}, "pre_render", "time_scale", "2997"},
                    OptionCase{{"--downsample", "3"}, "pre_render", "downsample_y", "1/3"},
                    OptionCase{{"--downsample", "3"}, "pre_render", "request", "0,0,22,16"},
                    OptionCase{{"--depth", "32"}, "pre_render", "bitdepth", "32"},
                    OptionCase{{"--depth", "16"}, "smart_render", "world_flags", "1"},
                    OptionCase{{"--position", "25,50"}, "pre_render", "x_fixed", "1048576"},
                    OptionCase{{"--position", "25,50"}, "pre_render", "y_fixed", "1572864"},
                    OptionCase{{"--emitter-size", "321"}, "pre_render", "emitter_size", "321"},
                    OptionCase{{"--detail", "3.5"}, "pre_render", "detail", "3.5"},
                    OptionCase{{"--softness", "12"}, "pre_render", "softness", "12"},
                    OptionCase{{"--speed=-4"}, "pre_render", "speed", "-4"},
                    OptionCase{{"--offset", "1e6"}, "pre_render", "offset", "1000000"},
                    OptionCase{{"--rect", "5,6,20,30"}, "pre_render", "request", "5,6,20,30"},
                    OptionCase{{"--rect", "5,6,20,30"}, "smart_render", "origin", "5,6"},
                    OptionCase{{"--legacy"}, "render", "output_origin", "0,0"},
                    OptionCase{
                        {"--legacy", "--rect", "5,6,20,30"}, "render", "output_origin", "-5,-6"},
                    OptionCase{{"--legacy", "--depth", "16"}, "render", "world_flags", "1"}),
    [](const testing::TestParamInfo<OptionCase>& param) {
        std::string name = std::to_string(param.index) + "_" + param.param.key;
        for (const std::string& arg : param.param.args) {
            for (char ch : arg) name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        }
        return name;
    });

TEST_F(ProgramTest, FailedFramePrintsTheMessageAndWritesNothing) {
    const ProgramRun run = Pyrix({"render", "--size", "16x16", "--frames", "1-3", "--detail", "666",
                                  "--threads", "1", "-o", File("f_####.png")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err.substr(0, run.err.find('\n')), "Tazu Test: detail 666 refused");
    EXPECT_TRUE(folder_.names().empty());
}

TEST_F(ProgramTest, FailureWithoutMessageNamesCommandAndCode) {
    const ProgramRun run = Pyrix(
        {"render", "--size", "16x16", "--frames", "1", "--detail", "667", "-o", File("f.png")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("pyrix: frame 1: PF_Cmd_SMART_RENDER failed with error 512"),
              std::string::npos)
        << run.err;
    EXPECT_TRUE(folder_.names().empty());
}

TEST_F(ProgramTest, FramesBeforeAFailureStayWritten) {
    const ProgramRun run = Pyrix({"render", "--size", "8x8", "--frames", "1-6", "--softness",
                                  "1003", "--threads", "1", "-o", File("f_####.pam")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("Tazu Test: frame 3 refused\n"), std::string::npos) << run.err;
    EXPECT_EQ(folder_.names(), (std::vector<std::string>{"f_0001.pam", "f_0002.pam"}));
}

TEST_F(ProgramTest, FileThatCannotBeWrittenFailsTheRun) {
    std::filesystem::create_directories(folder_.path() / "f_0002.pam" / "taken");
    const ProgramRun run = Pyrix(
        {"render", "--size", "8x8", "--frames", "1-3", "--threads", "1", "-o", File("f_####.pam")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err.rfind("pyrix: frame 2: cannot write " + File("f_0002.pam"), 0), 0u)
        << run.err;
    EXPECT_EQ(folder_.names(), (std::vector<std::string>{"f_0001.pam", "f_0002.pam"}));
    EXPECT_TRUE(std::filesystem::is_directory(File("f_0002.pam")));
}

TEST_F(ProgramTest, NonFiniteValuesGoToThePluginWhichAnswers) {
    const ProgramRun run =
        Pyrix({"render", "--size", "8x8", "--frames", "1", "--speed", "nan", "-o", File("f.pam")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err.substr(0, run.err.find('\n')), "Tazu Test: Non-finite effect parameter");
}

TEST_F(ProgramTest, InterruptCancelsFramesInFlightAndLeavesNoFiles) {
    const pid_t pid = program_.Start({"render", "--plugin", PYRIX_TEST_PLUGIN, "--size", "32x32",
                                      "--frames", "1-20", "--threads", "2", "--offset", "517", "-o",
                                      File("f_####.png"), "--contact-sheet", File("sheet.png")});
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (ReadPluginLog(program_.log(), "waiting").size() < 2 &&
           std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(ReadPluginLog(program_.log(), "waiting").size(), 2u);  // both threads busy
    kill(pid, SIGINT);
    const ProgramRun run = program_.Wait(pid);
    EXPECT_EQ(run.exitCode, 130) << run.err;
    EXPECT_NE(run.err.find("interrupted"), std::string::npos) << run.err;
    EXPECT_TRUE(folder_.names().empty());
    // Both frames in flight were cancelled; no further frame was started.
    EXPECT_EQ(ReadPluginLog(program_.log(), "pre_render").size(), 2u);
    EXPECT_EQ(ReadPluginLog(program_.log(), "delete_pre_render").size(), 2u);
}

TEST_F(ProgramTest, ContactSheetShowsEveryFrame) {
    const ProgramRun run = Pyrix({"render", "--size", "64x36", "--frames", "1-10", "-o",
                                  File("f_####.png"), "--contact-sheet", File("sheet.png")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const DecodedImage sheet = ReadImage(File("sheet.png"));
    EXPECT_EQ(sheet.bits, 8);
    // 8 columns and 2 rows of 64x36 cells, gaps of 8, labels of 14 rows.
    EXPECT_EQ(sheet.width, 8 + 8 * (64 + 8));
    EXPECT_EQ(sheet.height, 8 + 2 * (36 + 14 + 8));
    EXPECT_EQ(sheet.at(8 + 72 * 2 + 10, 8 + 20, 2), 3);  // the third cell shows frame 3
    EXPECT_NE(run.out.find("contact sheet: " + File("sheet.png")), std::string::npos);
}

TEST_F(ProgramTest, StripRendersEachValueIntoOneLabelledImage) {
    const ProgramRun run = Pyrix({"strip", "--param", "detail", "--values", "1,2.5,4", "--size",
                                  "20x10", "--frame", "5", "-o", File("strip.png")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto frames = ReadPluginLog(program_.log(), "pre_render");
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[1].at("detail"), "2.5");
    EXPECT_EQ(frames[2].at("frame"), "5");
    const DecodedImage strip = ReadImage(File("strip.png"));
    EXPECT_EQ(strip.width, 8 + 3 * (22 + 8));
    EXPECT_EQ(strip.height, 8 + 14 + 10 + 14 + 8);
    EXPECT_EQ(strip.at(38 + 3, 22 + 4, 0), 3);  // the second frame: layer x, y, frame number
    EXPECT_EQ(strip.at(38 + 3, 22 + 4, 1), 4);
    EXPECT_EQ(strip.at(38 + 3, 22 + 4, 2), 5);
    EXPECT_NE(run.out.find("Detail at 3 values, frame 5"), std::string::npos) << run.out;
}

TEST_F(ProgramTest, UsageErrorsExitWithTwo) {
    const ProgramRun run = Pyrix({"render", "--frames", "4-2"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("--frames"), std::string::npos) << run.err;
    EXPECT_TRUE(ReadPluginLog(program_.log(), "pre_render").empty());
}

TEST_F(ProgramTest, MissingPluginIsReported) {
    const ProgramRun run = program_({"info", "--plugin", File("nothing.so")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("cannot load"), std::string::npos) << run.err;
}

TEST_F(ProgramTest, InfoPrintsRegistrationFlagsAndParameters) {
    const ProgramRun run = Pyrix({"info"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (const char* text :
         {"name:         pyrix test effect\n", "match name:   pyrix Test Match\n",
          "category:     Tests\n", "kind:         'eFKT' (0x65464b54)\n", "API version:  13.28\n",
          "version:      1.0.0 release build 1 (0x00080601)\n",
          "out_flags:    0x02000400  PIX_INDEPENDENT | DEEP_COLOR_AWARE\n",
          "options button: \"About...\"\n", "parameters:   8",
          "  3  \"Emitter Size\"  id 8  float slider  default 100  valid 0 to 1000",
          "  2  \"Position\"  id 7  point  default 50, 70 (% of the layer)",
          "  1  \"About\"  id 10  no data  control 240x60"}) {
        EXPECT_NE(run.out.find(text), std::string::npos) << text << "\n" << run.out;
    }
}

// A plug-in built as SDK-built ones are gets through registration and both set-ups, and what it
// declared is printed even where pyrix cannot render it.
TEST_F(ProgramTest, InfoServesAnSdkStylePlugin) {
    const ProgramRun run = program_({"info", "--plugin", PYRIX_SDK_STYLE_PLUGIN});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (const char* text :
         {"name:         SDK-style test effect\n", "parameters:   7 (the input layer included)\n",
          "  1  \"Host FXTC\"  id 1  checkbox  default on\n",
          "  2  \"Quality\"  id 2  popup  3 choices, default 2\n",
          "  3  \"Spin\"  id 3  angle  default 45 degrees\n",
          "  4  \"Tint\"  id 4  color  default ARGB 255,255,128,0\n",
          "  5  \"Shutter 180\"  id 5  float slider  default 180  valid 0 to 360",
          "  6  \"Count\"  id 6  slider  default 3  valid 0 to 10\n",
          "not served:   suite \"Pyrix Test Missing Suite\" version 1 (answered 'S!Fd')\n"}) {
        EXPECT_NE(run.out.find(text), std::string::npos) << text << "\n" << run.out;
    }
}

TEST_F(ProgramTest, AboutPrintsTheText) {
    const ProgramRun run = Pyrix({"about"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "pyrix test effect\nline two\n");
}

TEST_F(ProgramTest, BenchPrintsOneFigureALine) {
    const ProgramRun run = Pyrix({"bench", "--size", "32x16", "--repeat", "2", "--depth", "16"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("frame: "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("readback_bytes: 4096\n"), std::string::npos) << run.out;  // 8 B/px
    EXPECT_NE(run.out.find(" ms\n"), std::string::npos) << run.out;
    EXPECT_EQ(ReadPluginLog(program_.log(), "smart_render").size(), 3u);  // warm-up and two
}

// ---- The fire effect itself -------------------------------------------------------------------

#ifdef PYRIX_REAL_PLUGIN
class FireEffect : public ProgramTest {
  protected:
    void SetUp() override {
        if (!std::filesystem::exists(PYRIX_REAL_PLUGIN)) GTEST_SKIP() << "not built";
    }
    ProgramRun Fire(std::vector<std::string> args) {
        args.insert(args.begin() + 1, {"--plugin", PYRIX_REAL_PLUGIN});
        return program_(args);
    }
};

TEST_F(FireEffect, InfoShowsTheRegistration) {
    const ProgramRun run = Fire({"info"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (const char* text :
         {"name:         vexo_Pyrix\n", "match name:   Tazu Pyrix GPU\n", "category:     Vexolab\n",
          "(0x00080601)", "out_flags:    0x02008424", "out_flags2:   0x2a001400", "parameters:   8",
          "\"Speed\"  id 2  float slider  default 1  valid -1e+06 to 1e+06"}) {
        EXPECT_NE(run.out.find(text), std::string::npos) << text << "\n" << run.out;
    }
}

#ifdef PYRIX_HAVE_WEBP
// Fire changes from frame to frame, so the encoder keeps every frame (it merges repeats).
TEST_F(FireEffect, AnimatedWebpHoldsEveryFrameInOrder) {
    const ProgramRun run = Fire({"render", "--size", "48x64", "--frames", "3-6", "--threads", "2",
                                 "--fps", "25", "-o", File("clip.webp")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    ASSERT_EQ(
        Fire({"render", "--size", "48x64", "--frames", "3-6", "-o", File("f_#.pam")}).exitCode, 0);
    EXPECT_NE(run.out.find("animated: " + File("clip.webp")), std::string::npos) << run.out;
    const std::string bytes = ReadFileBytes(File("clip.webp"));
    const WebPData data = {reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()};
    WebPAnimDecoderOptions options;
    ASSERT_TRUE(WebPAnimDecoderOptionsInit(&options));
    WebPAnimDecoder* decoder = WebPAnimDecoderNew(&data, &options);
    ASSERT_NE(decoder, nullptr);
    WebPAnimInfo info;
    ASSERT_TRUE(WebPAnimDecoderGetInfo(decoder, &info));
    EXPECT_EQ(info.canvas_width, 48u);
    EXPECT_EQ(info.canvas_height, 64u);
    EXPECT_EQ(info.frame_count, 4u);
    EXPECT_EQ(info.loop_count, 0u);  // for ever
    for (int frame = 3; WebPAnimDecoderHasMoreFrames(decoder); ++frame) {
        uint8_t* rgba = nullptr;
        int end = 0;
        ASSERT_TRUE(WebPAnimDecoderGetNext(decoder, &rgba, &end));
        EXPECT_EQ(end, (frame - 2) * 40);  // each frame lasts 1/25 s
        // Lossy, but closest to its own frame among the still ones.
        int closest = 0;
        double best = 1e300;
        for (int still = 3; still <= 6; ++still) {
            const DecodedImage image = ReadImage(File("f_" + std::to_string(still) + ".pam"));
            double difference = 0;
            for (size_t i = 0; i < image.rgba.size(); ++i) {
                difference += std::abs(image.rgba[i] - rgba[i]);
            }
            if (difference < best) std::tie(best, closest) = std::make_pair(difference, still);
        }
        EXPECT_EQ(closest, frame);
    }
    WebPAnimDecoderDelete(decoder);
}
#endif

TEST_F(FireEffect, RendersOpaqueFire) {
    const ProgramRun run =
        Fire({"render", "--size", "96x54", "--frames", "1-2", "-o", File("f_####.png")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const DecodedImage a = ReadImage(File("f_0001.png"));
    const DecodedImage b = ReadImage(File("f_0002.png"));
    ASSERT_EQ(a.width, 96);
    double brightest = 0;
    for (int32_t y = 0; y < a.height; ++y) {
        for (int32_t x = 0; x < a.width; ++x) {
            ASSERT_EQ(a.at(x, y, 3), 255);
            brightest = std::max(brightest, a.at(x, y, 0));
        }
    }
    EXPECT_GT(brightest, 128);  // there is fire
    EXPECT_NE(a.rgba, b.rgba);  // and it moves
}

TEST_F(FireEffect, ItsMessagesArePrintedAsWritten) {
    ProgramRun run = Fire(
        {"render", "--size", "16x16", "--frames", "1", "--detail", "nan", "-o", File("f.png")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err,
              "Tazu Pyrix: Non-finite effect parameter\n"
              "pyrix: stopped after a failed frame; 0 of 1 frames written\n");
    run = Fire({"render", "--size", "16385x4", "--frames", "1", "-o", File("f.png")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err.substr(0, run.err.find('\n')),
              "Tazu Pyrix: Unsupported frame dimensions (maximum 16384)");
    EXPECT_TRUE(folder_.names().empty());
}

// The same frame through both render commands, and a part of it through an output rect: the
// records pyrix fills must lead the effect to the same pixels.
TEST_F(FireEffect, RenderPathsAndRectsAgree) {
    const std::vector<std::string> common = {"render",  "--size", "80x60",    "--frames", "3",
                                             "--depth", "16",     "--detail", "2.5"};
    auto render = [&](const std::string& name, std::vector<std::string> extra) {
        std::vector<std::string> args = common;
        args.insert(args.end(), extra.begin(), extra.end());
        args.insert(args.end(), {"-o", File(name)});
        const ProgramRun run = Fire(args);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        return ReadImage(File(name));
    };
    const DecodedImage smart = render("smart.pam", {});
    const DecodedImage legacy = render("legacy.pam", {"--legacy"});
    EXPECT_EQ(smart.rgba, legacy.rgba);

    const DecodedImage part = render("part.pam", {"--rect", "10,5,50,45", "--threads", "1"});
    ASSERT_EQ(part.width, 40);
    ASSERT_EQ(part.height, 40);
    for (int32_t y = 0; y < 40; ++y) {
        for (int32_t x = 0; x < 40; ++x) {
            for (int c = 0; c < 4; ++c) ASSERT_EQ(part.at(x, y, c), smart.at(x + 10, y + 5, c));
        }
    }
    const DecodedImage legacyPart = render("legacy_part.pam", {"--rect", "10,5,50,45", "--legacy"});
    EXPECT_EQ(legacyPart.rgba, part.rgba);
}

TEST_F(FireEffect, AboutTextStartsWithTheName) {
    const ProgramRun run = Fire({"about"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.rfind("vexo_Pyrix\n", 0), 0u) << run.out;
}

TEST_F(FireEffect, BenchFigures) {
    const ProgramRun run = Fire({"bench", "--size", "64x36", "--repeat", "1"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (const char* name : {"\nkernel: ", "\nconversion_8bit: ", "\nmemcpy: ", "\nframe: "}) {
        EXPECT_NE(run.out.find(name), std::string::npos) << name << "\n" << run.out;
    }
}
#endif

}  // namespace
