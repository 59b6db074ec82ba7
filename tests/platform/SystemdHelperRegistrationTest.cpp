#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVirtualObject>
#include <QUuid>
#include <map>
#include <optional>
#include <stdexcept>
#include <vector>

#include "app/platform/linux/SystemdHelperRegistration.h"
#include "tests/support/FakePrivilegedShell.h"
#include "tests/platform/PrivateSessionBus.h"
#include "tests/platform/QtWait.h"

namespace tw {
namespace {

using Code = HelperRegistrationError::Code;
using Result = HelperRegistration::Result;
using ::testing::ElementsAre;

const QString kService = QStringLiteral("org.freedesktop.systemd1");
const QString kPath = QStringLiteral("/org/freedesktop/systemd1");
const QString kManager = QStringLiteral("org.freedesktop.systemd1.Manager");
const QString kUnit = QStringLiteral("tarnwick-helper.socket");

// One entry of the changes EnableUnitFiles reports: (type, link, target).
struct UnitFileChange {
    QString type;
    QString file;
    QString destination;
};

QDBusArgument& operator<<(QDBusArgument& argument, const UnitFileChange& change) {
    argument.beginStructure();
    argument << change.type << change.file << change.destination;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, UnitFileChange& change) {
    argument.beginStructure();
    argument >> change.type >> change.file >> change.destination;
    argument.endStructure();
    return argument;
}

// systemd's manager as the adapter sees it, on a connection of its own to the test's bus (so that
// calls really cross the bus, flags and all). It is strict where a lax double would hide a fault:
// a Manager call whose signature is not systemd's is refused with InvalidArgs and not recorded.
// Unit file states come from `states` (a unit not there has no file, answered as systemd answers
// ENOENT); a successful EnableUnitFiles makes the unit "enabled". A method in `failures` answers
// with that error; one in `replies` answers those arguments instead of systemd's.
class FakeSystemdManager final : public QDBusVirtualObject {
public:
    struct Call {
        QString member;
        QVariantList arguments;
        bool interactive;
    };
    struct Failure {
        QString name;
        QString message;
    };

    explicit FakeSystemdManager(const QString& busAddress)
        : connectionName_("fake-systemd-" + QUuid::createUuid().toString()),
          connection_(QDBusConnection::connectToBus(busAddress, connectionName_)) {
        qDBusRegisterMetaType<UnitFileChange>();
        qDBusRegisterMetaType<QList<UnitFileChange>>();
        if (!connection_.isConnected() || !connection_.registerService(kService) ||
            !connection_.registerVirtualObject(kPath, this)) {
            throw std::runtime_error("the fake systemd cannot serve on the test bus");
        }
    }
    ~FakeSystemdManager() override {
        connection_.unregisterObject(kPath);
        connection_.unregisterService(kService);
        QDBusConnection::disconnectFromBus(connectionName_);
    }

    const std::vector<Call>& calls() const { return calls_; }
    std::vector<QString> members() const {
        std::vector<QString> members;
        for (const auto& call : calls_) members.push_back(call.member);
        return members;
    }
    int refusedCalls() const { return refusedCalls_; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        static const std::map<QString, QString> signatures = {{"GetUnitFileState", "s"},
                                                              {"EnableUnitFiles", "asbb"},
                                                              {"Reload", ""},
                                                              {"StartUnit", "ss"}};
        const auto expected = signatures.find(message.member());
        if (message.interface() != kManager || expected == signatures.end()) return false;
        if (message.signature() != expected->second) {
            ++refusedCalls_;
            return connection.send(message.createErrorReply(
                QDBusError::InvalidArgs,
                message.member() + " takes " + expected->second + ", not " + message.signature()));
        }
        calls_.push_back(
            {message.member(), message.arguments(), message.isInteractiveAuthorizationAllowed()});
        return connection.send(answer(message));
    }
    QString introspect(const QString&) const override { return {}; }

    std::map<QString, QString> states;
    std::map<QString, Failure> failures;
    std::map<QString, QVariantList> replies;

private:
    QDBusMessage answer(const QDBusMessage& message) {
        const auto& member = message.member();
        if (const auto failure = failures.find(member); failure != failures.end()) {
            return message.createErrorReply(failure->second.name, failure->second.message);
        }
        if (const auto reply = replies.find(member); reply != replies.end()) {
            return message.createReply(reply->second);
        }
        if (member == "GetUnitFileState") return unitFileState(message);
        if (member == "EnableUnitFiles") return enable(message);
        if (member == "StartUnit") {
            return message.createReply(
                QVariant::fromValue(QDBusObjectPath("/org/freedesktop/systemd1/job/1")));
        }
        return message.createReply();
    }

    QDBusMessage unitFileState(const QDBusMessage& message) const {
        const auto state = states.find(message.arguments().constFirst().toString());
        if (state == states.end()) {
            return message.createErrorReply("org.freedesktop.DBus.Error.FileNotFound",
                                            "No such file or directory");
        }
        return message.createReply(state->second);
    }

    QDBusMessage enable(const QDBusMessage& message) {
        QList<UnitFileChange> changes;
        for (const auto& unit : message.arguments().constFirst().toStringList()) {
            states[unit] = "enabled";
            changes.append({"symlink", "/etc/systemd/system/sockets.target.wants/" + unit,
                            "/usr/lib/systemd/system/" + unit});
        }
        return message.createReply(QVariantList{true, QVariant::fromValue(changes)});
    }

    const QString connectionName_;
    QDBusConnection connection_;
    std::vector<Call> calls_;
    int refusedCalls_ = 0;
};

// Each case gets a bus of its own, the fake systemd on it, and the adapter on a second connection.
class SystemdHelperRegistrationTest : public ::testing::Test {
protected:
    ~SystemdHelperRegistrationTest() override {
        QDBusConnection::disconnectFromBus(connectionName_);
    }

    HelperRegistrationStatus status() {
        return awaited<HelperRegistrationStatus>(
            [&](auto completion) { registration_->status(completion); });
    }
    Result registered() {
        return awaited<Result>(
            [&](auto completion) { registration_->registerService(completion); });
    }
    HelperRegistrationStatus statusOfState(const QString& state) {
        systemd_->states[kUnit] = state;
        return status();
    }
    std::vector<bool> interactiveFlags() const {
        std::vector<bool> flags;
        for (const auto& call : systemd_->calls()) flags.push_back(call.interactive);
        return flags;
    }

    template <typename Answer, typename Operation>
    static Answer awaited(Operation operation) {
        std::optional<Answer> answer;
        operation([&](Answer given) { answer = std::move(given); });
        if (!waitUntil([&] { return answer.has_value(); })) throw std::runtime_error("no answer");
        return *answer;
    }

    PrivateSessionBus bus_;
    std::unique_ptr<FakeSystemdManager> systemd_ =
        std::make_unique<FakeSystemdManager>(QString::fromStdString(bus_.address()));
    const QString connectionName_ = "registration-" + QUuid::createUuid().toString();
    QDBusConnection connection_ =
        QDBusConnection::connectToBus(QString::fromStdString(bus_.address()), connectionName_);
    std::shared_ptr<FakePrivilegedShell> rootShell_ = std::make_shared<FakePrivilegedShell>();
    std::unique_ptr<SystemdHelperRegistration> registration_ =
        std::make_unique<SystemdHelperRegistration>(connection_,
                                                    SystemdHelperRegistration::kHelperUnit, rootShell_);
};

// Status.

TEST_F(SystemdHelperRegistrationTest, AsksForTheStateOfTheHelpersSocketWithoutInteraction) {
    systemd_->states[kUnit] = "enabled";
    status();
    ASSERT_THAT(systemd_->members(), ElementsAre("GetUnitFileState"));
    EXPECT_EQ(systemd_->calls()[0].arguments, QVariantList{kUnit});
    EXPECT_FALSE(systemd_->calls()[0].interactive);
}

TEST_F(SystemdHelperRegistrationTest, AsksAboutTheUnitItWasGiven) {
    registration_ = std::make_unique<SystemdHelperRegistration>(connection_, "other.socket", rootShell_);
    systemd_->states["other.socket"] = "enabled";
    EXPECT_EQ(status(), HelperRegistrationStatus::enabled);
    EXPECT_EQ(systemd_->calls()[0].arguments, QVariantList{"other.socket"});
}

TEST_F(SystemdHelperRegistrationTest, AnEnabledUnitFileIsEnabled) {
    EXPECT_EQ(statusOfState("enabled"), HelperRegistrationStatus::enabled);
    EXPECT_EQ(statusOfState("enabled-runtime"), HelperRegistrationStatus::enabled);
}

TEST_F(SystemdHelperRegistrationTest, AnInstalledUnitFileThatIsNotEnabledRequiresApproval) {
    for (const char* state : {"disabled", "static", "indirect", "linked", "linked-runtime", "alias",
                              "generated", "transient", "bad"}) {
        EXPECT_EQ(statusOfState(state), HelperRegistrationStatus::requiresApproval) << state;
    }
}

TEST_F(SystemdHelperRegistrationTest, AMaskedUnitIsNotFoundSinceNoApprovalCanEnableIt) {
    EXPECT_EQ(statusOfState("masked"), HelperRegistrationStatus::notFound);
    EXPECT_EQ(statusOfState("masked-runtime"), HelperRegistrationStatus::notFound);
}

TEST_F(SystemdHelperRegistrationTest, AMissingUnitFileIsNotFound) {
    EXPECT_EQ(status(), HelperRegistrationStatus::notFound);
}

TEST_F(SystemdHelperRegistrationTest, ANoSuchUnitErrorIsNotFound) {
    systemd_->failures["GetUnitFileState"] = {"org.freedesktop.systemd1.NoSuchUnit",
                                              "Unit tarnwick-helper.socket not found."};
    EXPECT_EQ(status(), HelperRegistrationStatus::notFound);
}

TEST_F(SystemdHelperRegistrationTest, AStateThatCannotBeReadIsNotRegistered) {
    systemd_->failures["GetUnitFileState"] = {"org.freedesktop.DBus.Error.AccessDenied",
                                              "Access denied"};
    EXPECT_EQ(status(), HelperRegistrationStatus::notRegistered);
}

TEST_F(SystemdHelperRegistrationTest, AnAnswerWithoutAStateIsNotRegistered) {
    systemd_->replies["GetUnitFileState"] = {};
    EXPECT_EQ(status(), HelperRegistrationStatus::notRegistered);
    systemd_->replies["GetUnitFileState"] = {1u};
    EXPECT_EQ(status(), HelperRegistrationStatus::notRegistered);
}

// Registering.

TEST_F(SystemdHelperRegistrationTest, RegisteringEnablesReloadsAndStartsTheSocketInThatOrder) {
    systemd_->states[kUnit] = "disabled";
    EXPECT_TRUE(registered().has_value());
    ASSERT_THAT(systemd_->members(), ElementsAre("EnableUnitFiles", "Reload", "StartUnit"));
    // Persistently (not runtime), without replacing links to other units.
    EXPECT_EQ(systemd_->calls()[0].arguments, (QVariantList{QStringList{kUnit}, false, false}));
    EXPECT_EQ(systemd_->calls()[1].arguments, QVariantList{});
    EXPECT_EQ(systemd_->calls()[2].arguments, (QVariantList{kUnit, "replace"}));
    EXPECT_EQ(systemd_->refusedCalls(), 0);
}

TEST_F(SystemdHelperRegistrationTest, RegisteringNeverLetsPolkitPrompt) {
    registered();
    EXPECT_THAT(interactiveFlags(), ElementsAre(false, false, false));
}

TEST_F(SystemdHelperRegistrationTest, ARegisteredHelperReadsAsEnabled) {
    systemd_->states[kUnit] = "disabled";
    registered();
    EXPECT_EQ(status(), HelperRegistrationStatus::enabled);
}

TEST_F(SystemdHelperRegistrationTest, ARefusalToEnableFailsWithPolkitsTextAndGoesNoFurther) {
    systemd_->failures["EnableUnitFiles"] = {
        "org.freedesktop.DBus.Error.InteractiveAuthorizationRequired",
        "Interactive authentication required."};
    const auto result = registered();
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error(), (HelperRegistrationError{Code::notAuthorized,
                                                       "Interactive authentication required."}));
    EXPECT_EQ(result.error().description(),
              "Not authorised to register the helper: Interactive authentication required.");
    EXPECT_THAT(systemd_->members(), ElementsAre("EnableUnitFiles"));
}

TEST_F(SystemdHelperRegistrationTest, AccessDeniedAtAnyStepIsARefusal) {
    systemd_->failures["StartUnit"] = {"org.freedesktop.DBus.Error.AccessDenied", "Access denied"};
    const auto result = registered();
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error(), (HelperRegistrationError{Code::notAuthorized, "Access denied"}));
}

TEST_F(SystemdHelperRegistrationTest, AFailedEnableKeepsSystemdsText) {
    systemd_->failures["EnableUnitFiles"] = {"org.freedesktop.systemd1.UnitMasked",
                                             "Unit file tarnwick-helper.socket is masked."};
    const auto result = registered();
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().description(),
              "The helper could not be enabled: Unit file tarnwick-helper.socket is masked.");
}

TEST_F(SystemdHelperRegistrationTest, AFailedReloadStopsBeforeTheStart) {
    systemd_->failures["Reload"] = {"org.freedesktop.DBus.Error.Failed", "Reload refused"};
    const auto result = registered();
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error(), (HelperRegistrationError{Code::notReloaded, "Reload refused"}));
    EXPECT_THAT(systemd_->members(), ElementsAre("EnableUnitFiles", "Reload"));
}

TEST_F(SystemdHelperRegistrationTest, AFailedStartIsReportedAsSuch) {
    systemd_->failures["StartUnit"] = {"org.freedesktop.systemd1.LoadFailed",
                                       "Unit tarnwick-helper.socket failed to load."};
    const auto result = registered();
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(
        result.error(),
        (HelperRegistrationError{Code::notStarted, "Unit tarnwick-helper.socket failed to load."}));
}

TEST_F(SystemdHelperRegistrationTest, AnErrorWithoutTextIsDescribedByItsName) {
    systemd_->failures["EnableUnitFiles"] = {"org.example.Error.Odd", ""};
    const auto result = registered();
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error(), (HelperRegistrationError{Code::notEnabled, "org.example.Error.Odd"}));
}

// Approving.

TEST_F(SystemdHelperRegistrationTest, ApprovingAsksTheAdministratorOnceForTheWholeEnable) {
    std::optional<Result> results[3];
    for (auto& result : results) {
        registration_->approve([&result](Result given) { result = std::move(given); });
    }
    ASSERT_EQ(rootShell_->commandLines.size(), 3u);
    EXPECT_EQ(rootShell_->commandLines[0], "systemctl enable --now 'tarnwick-helper.socket'");
    EXPECT_TRUE(systemd_->calls().empty());

    rootShell_->answer(0, {});
    rootShell_->answer(1, std::unexpected(PrivilegedShell::Failure{true, "dismissed"}));
    rootShell_->answer(2, std::unexpected(PrivilegedShell::Failure{false, "exit 1: no such unit"}));
    EXPECT_TRUE(results[0]->has_value());
    EXPECT_EQ(results[1]->error(), (HelperRegistrationError{Code::notAuthorized, "dismissed"}));
    EXPECT_EQ(results[2]->error(), (HelperRegistrationError{Code::notEnabled, "exit 1: no such unit"}));
}

// Without systemd.

TEST_F(SystemdHelperRegistrationTest, WithoutSystemdOnTheBusEveryOperationFailsAtOnce) {
    systemd_.reset();
    EXPECT_EQ(status(), HelperRegistrationStatus::notRegistered);
    const auto result = registered();
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().code, Code::serviceManagerUnreachable);
    EXPECT_THAT(result.error().detail, ::testing::HasSubstr("org.freedesktop.systemd1"));
}

TEST_F(SystemdHelperRegistrationTest, OnAConnectionThatIsNotConnectedEveryOperationFails) {
    registration_ = std::make_unique<SystemdHelperRegistration>(
        QDBusConnection("never-connected"), SystemdHelperRegistration::kHelperUnit, rootShell_);
    EXPECT_EQ(status(), HelperRegistrationStatus::notRegistered);
    const auto result = registered();
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().code, Code::serviceManagerUnreachable);
    EXPECT_TRUE(systemd_->calls().empty());
}

// Lifetime.

TEST_F(SystemdHelperRegistrationTest, ARegistrationDestroyedWhileAskingDropsItsCompletion) {
    bool called = false;
    registration_->status([&](HelperRegistrationStatus) { called = true; });
    registration_ = std::make_unique<SystemdHelperRegistration>(connection_, kUnit, rootShell_);
    // Answers on one connection come in order: the dropped one has arrived by the time this has.
    status();
    EXPECT_THAT(systemd_->members(), ElementsAre("GetUnitFileState", "GetUnitFileState"));
    EXPECT_FALSE(called);
}

// The fake itself.

TEST_F(SystemdHelperRegistrationTest, TheFakeSystemdRefusesACallWithTheWrongSignature) {
    auto call = QDBusMessage::createMethodCall(kService, kPath, kManager, "EnableUnitFiles");
    call << kUnit << false << false;
    auto pending = connection_.asyncCall(call);
    ASSERT_TRUE(waitUntil([&] { return pending.isFinished(); }));
    EXPECT_EQ(pending.error().type(), QDBusError::InvalidArgs);
    EXPECT_EQ(systemd_->refusedCalls(), 1);
    EXPECT_TRUE(systemd_->calls().empty());
}

}  // namespace
}  // namespace tw
