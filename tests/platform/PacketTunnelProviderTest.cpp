#include "packettunnel/PacketTunnelProvider.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tw {
namespace {

using ::testing::ElementsAre;
using Level = ProviderLog::Level;

class RecordingLog final : public ProviderLog {
public:
    void console(std::string_view text) override { consoleLines.emplace_back(text); }
    void system(Level level, std::string_view text) override { systemLines.emplace_back(level, text); }

    std::vector<std::string> consoleLines;
    std::vector<std::pair<Level, std::string>> systemLines;
};

// Keeps the settings asked for and the completion, for the test to answer.
class HeldPlatform final : public TunnelPlatform {
public:
    void setTunnelNetworkSettings(const TunnelNetworkSettings& settings, Completion completion) override {
        applied.push_back(settings);
        pending = std::move(completion);
    }
    void answer(std::optional<TunnelError> error) { std::exchange(pending, nullptr)(std::move(error)); }

    std::vector<TunnelNetworkSettings> applied;
    Completion pending;
};

class APacketTunnelProvider : public ::testing::Test {
protected:
    std::shared_ptr<RecordingLog> log_ = std::make_shared<RecordingLog>();
    std::shared_ptr<HeldPlatform> platform_ = std::make_shared<HeldPlatform>();
    std::shared_ptr<PacketTunnelProvider> provider_ = PacketTunnelProvider::create(log_, platform_);
    std::vector<std::optional<TunnelError>> startAnswers_;

    void start() {
        provider_->startTunnel([this](std::optional<TunnelError> error) { startAnswers_.push_back(error); });
    }
};

// --- start ---

TEST_F(APacketTunnelProvider, AsksForExactlyTheFixedSettings) {
    start();
    ASSERT_EQ(platform_->applied.size(), 1u);
    EXPECT_EQ(platform_->applied[0], (TunnelNetworkSettings{"127.0.0.1", {"10.0.0.1"}, {"255.255.255.0"}}));
}

TEST_F(APacketTunnelProvider, LogsTheStartOnBothChannelsBeforeTheSettingsAreIn) {
    start();
    EXPECT_THAT(log_->consoleLines, ElementsAre("PacketTunnelProvider: startTunnel called"));
    EXPECT_THAT(log_->systemLines, ElementsAre(std::pair(Level::info, std::string("startTunnel called"))));
    EXPECT_TRUE(startAnswers_.empty());
}

TEST_F(APacketTunnelProvider, ReportsSuccessOnceThePlatformHasAppliedTheSettings) {
    start();
    platform_->answer(std::nullopt);
    EXPECT_THAT(startAnswers_, ElementsAre(std::nullopt));
    EXPECT_EQ(log_->consoleLines.back(), "PacketTunnelProvider: Tunnel established successfully");
    EXPECT_EQ(log_->systemLines.back(), std::pair(Level::info, std::string("Tunnel established successfully")));
}

TEST_F(APacketTunnelProvider, PassesRefusedSettingsOnUnchangedAndLogsThemAsAnError) {
    start();
    const TunnelError refusal{"IP config invalid (reason 5)"};
    platform_->answer(refusal);
    EXPECT_THAT(startAnswers_, ElementsAre(refusal));
    EXPECT_EQ(log_->consoleLines.back(),
              "PacketTunnelProvider: Failed to set tunnel network settings: IP config invalid (reason 5)");
    EXPECT_EQ(log_->systemLines.back(),
              std::pair(Level::error, std::string("Failed to set tunnel network settings: IP config invalid (reason 5)")));
}

TEST_F(APacketTunnelProvider, StillAnswersTheStartWhenItHasGoneAwayButSkipsTheSystemLogLine) {
    start();
    provider_.reset();
    platform_->answer(TunnelError{"gone"});
    EXPECT_THAT(startAnswers_, ElementsAre(TunnelError{"gone"}));
    EXPECT_EQ(log_->consoleLines.back(), "PacketTunnelProvider: Failed to set tunnel network settings: gone");
    EXPECT_EQ(log_->systemLines.size(), 1u);  // only "startTunnel called"
}

TEST_F(APacketTunnelProvider, AnswersAStartThePlatformAnswersAtOnce) {
    class AtOnce final : public TunnelPlatform {
        void setTunnelNetworkSettings(const TunnelNetworkSettings&, Completion completion) override {
            completion(TunnelError{"no tun"});
        }
    };
    auto provider = PacketTunnelProvider::create(log_, std::make_shared<AtOnce>());
    std::optional<TunnelError> answer;
    provider->startTunnel([&](auto error) { answer = error; });
    EXPECT_EQ(answer, TunnelError{"no tun"});
}

// --- stop, messages, sleep and wake ---

TEST_F(APacketTunnelProvider, LogsTheStopReasonInDecimalAndCompletes) {
    for (const std::int64_t reason : {std::int64_t{0}, std::int64_t{2}, std::int64_t{-1},
                                      std::int64_t{9007199254740993}}) {
        bool completed = false;
        provider_->stopTunnel(reason, [&] { completed = true; });
        EXPECT_TRUE(completed);
        EXPECT_EQ(log_->consoleLines.back(), "PacketTunnelProvider: stopTunnel called with reason: " + std::to_string(reason));
        EXPECT_EQ(log_->systemLines.back().second, "stopTunnel called with reason: " + std::to_string(reason));
    }
    EXPECT_TRUE(platform_->applied.empty());
}

TEST_F(APacketTunnelProvider, EchoesEveryMessageUnchanged) {
    for (const auto& message : {std::vector<std::uint8_t>{}, std::vector<std::uint8_t>{0, 1, 255},
                                std::vector<std::uint8_t>(70000, 7)}) {
        std::optional<std::vector<std::uint8_t>> echoed;
        provider_->handleAppMessage(message, [&](const auto& bytes) { echoed = bytes; });
        EXPECT_EQ(echoed, message);
    }
    EXPECT_EQ(log_->systemLines.back(), std::pair(Level::info, std::string("handleAppMessage called")));
}

TEST_F(APacketTunnelProvider, LogsAndDropsAMessageWithoutACompletion) {
    provider_->handleAppMessage({1, 2, 3}, nullptr);
    EXPECT_THAT(log_->consoleLines, ElementsAre("PacketTunnelProvider: handleAppMessage called"));
}

TEST_F(APacketTunnelProvider, LogsSleepBeforeCompletingItAndLogsWake) {
    provider_->sleep([this] { EXPECT_EQ(log_->systemLines.back().second, "sleep called"); });
    provider_->wake();
    EXPECT_THAT(log_->consoleLines, ElementsAre("PacketTunnelProvider: sleep called", "PacketTunnelProvider: wake called"));
}

}  // namespace
}  // namespace tw
