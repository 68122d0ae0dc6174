// The run as the user sees it: the overall progress bar and the time left,
// the line that says how a run ended, and the offer to resume when the
// target already holds items from the source, over real embedded stores.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <cstdio>
#include <functional>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <store_setup.h>

#include "help_window.h"
#include "message_box.h"
#include "quirnel_dlg.h"
#include "resource.h"
#include "run_progress.h"
#include "string_table.h"
#include "test_stores.h"

namespace {

struct LanguageGuard {
    explicit LanguageGuard(Language l) { SetResourceLanguage(l); }
    ~LanguageGuard() { ResetResourceLanguage(); }
};

// Answers the offer to resume with choice and keeps what it said; any
// other box or question is kept too, so a test sees it.
class User {
public:
    User() {
        SetMessageBoxHook([this](const MessageBoxCall& call) { boxes.push_back(call); });
        SetQuestionHook([this](const MessageBoxCall& call) {
            boxes.push_back(call);
            return false;
        });
        SetChoiceHook([this](const MessageBoxCall& call, const QStringList& buttons) {
            offers.push_back(call);
            offerButtons = buttons;
            if (onOffer) onOffer();
            return choice;
        });
    }
    ~User() {
        SetMessageBoxHook(nullptr);
        SetQuestionHook(nullptr);
        SetChoiceHook(nullptr);
    }
    int choice = 0;
    std::function<void()> onOffer;
    std::vector<MessageBoxCall> boxes;
    std::vector<MessageBoxCall> offers;
    QStringList offerButtons;
};

class RunTest : public testing::Test {
protected:
    void Open(const char* source, const char* target) {
        dlg = std::make_unique<CQuirnelDlg>();
        ASSERT_TRUE(dlg->OnInitDialog());
        dlg->show();
        for (auto [id, name] : {std::pair{IDC_COMBO_SOURCE, source}, {IDC_COMBO_TARGET, target}}) {
            auto* combo = qobject_cast<QComboBox*>(dlg->GetDlgItem(id));
            ASSERT_NE(combo, nullptr);
            combo->setCurrentIndex(combo->findText(QString::fromUtf8(name)));
            ASSERT_GE(combo->currentIndex(), 0) << name;
        }
    }
    // Presses Start and waits for the count and the run; false when no
    // copy began (the offer cancelled, a check failed).
    bool Start() {
        QSignalSpy finished(dlg.get(), &CQuirnelDlg::runFinished);
        QSignalSpy copying(dlg.get(), &CQuirnelDlg::copyStarted);
        QTest::mouseClick(Button(IDC_START), Qt::LeftButton);
        if (!dlg->RunActive()) return false;
        EXPECT_TRUE(finished.wait(120000));
        return copying.count() > 0;
    }
    QPushButton* Button(int id) { return qobject_cast<QPushButton*>(dlg->GetDlgItem(id)); }
    QProgressBar* Bar() { return qobject_cast<QProgressBar*>(dlg->GetDlgItem(IDC_PROGRESS_BAR)); }
    QString Status() { return qobject_cast<QLabel*>(dlg->GetDlgItem(IDC_STATIC_PROGRESS))->text(); }
    QString LastLine() {
        auto* list = qobject_cast<QListWidget*>(dlg->GetDlgItem(IDC_LIST_ACTIVITY));
        return list->count() > 0 ? list->item(list->count() - 1)->text() : QString();
    }

    LanguageGuard english{Language::English};
    TestProfile profile;
    User user;
    std::unique_ptr<CQuirnelDlg> dlg;
};

TEST_F(RunTest, ATargetHoldingTheItemsOffersToContinueOrToCopyAgain) {
    ASSERT_TRUE(profile.AddSampleStore("Source", 120, 5));
    ASSERT_TRUE(profile.AddEmptyStore("Target"));
    ASSERT_TRUE(profile.Save());
    Open("Source", "Target");
    const uint32_t items = CountItems(profile.Dump("Source", false));
    ASSERT_GT(items, 100u);

    // An empty target: no question, the whole store, the bar at its end.
    ASSERT_TRUE(Start());
    EXPECT_TRUE(user.offers.empty());
    EXPECT_TRUE(user.boxes.empty());
    EXPECT_EQ(dlg->LastOutcome(), quirnel::RunOutcome::Completed);
    EXPECT_EQ(Bar()->maximum(), static_cast<int>(items));
    EXPECT_EQ(Bar()->value(), Bar()->maximum());
    EXPECT_EQ(Status(),
              QStringLiteral("Finished: %1 copied, 0 were already in the target.").arg(items));
    EXPECT_TRUE(LastLine().startsWith("Summary: listed ")) << LastLine().toStdString();
    EXPECT_EQ(CountItems(profile.Dump("Target", false)), items);

    // Cancel: nothing runs, nothing changes.
    user.choice = 2;
    EXPECT_FALSE(Start());
    ASSERT_EQ(user.offers.size(), 1u);
    EXPECT_TRUE(user.offers[0].text.contains(QStringLiteral("already holds %1 items").arg(items)))
        << user.offers[0].text.toStdString();
    EXPECT_EQ(user.offerButtons, (QStringList{"&Continue", "Copy &again", "Cancel"}));
    EXPECT_EQ(CountItems(profile.Dump("Target", false)), items);

    // Continue: every item stays there once.
    user.choice = 0;
    ASSERT_TRUE(Start());
    EXPECT_EQ(user.offers.size(), 2u);
    EXPECT_EQ(CountItems(profile.Dump("Target", false)), items);
    EXPECT_EQ(Status(),
              QStringLiteral("Finished: 0 copied, %1 were already in the target.").arg(items));
    EXPECT_EQ(Bar()->value(), Bar()->maximum());

    // Copy again: as asked, every item twice.
    user.choice = 1;
    ASSERT_TRUE(Start());
    EXPECT_EQ(user.offers.size(), 3u);
    EXPECT_EQ(CountItems(profile.Dump("Target", false)), 2 * items);
    EXPECT_EQ(Status(),
              QStringLiteral("Finished: %1 copied, 0 were already in the target.").arg(items));
    // The offer counts the copies, not the source's items.
    user.choice = 2;
    EXPECT_FALSE(Start());
    EXPECT_TRUE(user.offers.back().text.contains(QString::number(2 * items)));
    EXPECT_TRUE(user.boxes.empty());
}

TEST_F(RunTest, AStoppedRunSaysSoAndTheNextOneResumes) {
    ASSERT_TRUE(profile.AddSampleStore("Source", 400, 7));
    ASSERT_TRUE(profile.AddEmptyStore("Target"));
    ASSERT_TRUE(profile.Save());
    Open("Source", "Target");
    const uint32_t items = CountItems(profile.Dump("Source", false));

    // Stop once the bar has moved.
    bool pressed = false;
    QObject::connect(Bar(), &QProgressBar::valueChanged, dlg.get(), [&](int value) {
        if (value >= 20 && !pressed) {
            pressed = true;
            QTest::mouseClick(Button(IDC_STOP), Qt::LeftButton);
        }
    });
    ASSERT_TRUE(Start());
    EXPECT_EQ(dlg->LastOutcome(), quirnel::RunOutcome::Stopped);
    EXPECT_TRUE(Status().startsWith("Stopped: ")) << Status().toStdString();
    EXPECT_EQ(Bar()->maximum(), static_cast<int>(items));
    EXPECT_LT(Bar()->value(), Bar()->maximum());
    const uint32_t copied = CountItems(profile.Dump("Target", false));
    ASSERT_GT(copied, 0u);
    ASSERT_LT(copied, items);
    EXPECT_EQ(
        Status(),
        QStringLiteral("Stopped: %1 copied. Start continues where the run ended.").arg(copied));

    // The next Start offers to go on from there; the default does.
    pressed = true;
    ASSERT_TRUE(Start());
    ASSERT_EQ(user.offers.size(), 1u);
    EXPECT_TRUE(user.offers[0].text.contains(QStringLiteral("already holds %1 items").arg(copied)));
    EXPECT_EQ(profile.Dump("Target", true), profile.Dump("Source", true));
    EXPECT_EQ(dlg->LastOutcome(), quirnel::RunOutcome::Completed);
    EXPECT_EQ(Status(), QStringLiteral("Finished: %1 copied, %2 were already in the target.")
                            .arg(items - copied)
                            .arg(copied));
    EXPECT_EQ(Bar()->value(), Bar()->maximum());
    EXPECT_TRUE(user.boxes.empty());
}

// A dialog whose count waits until the test lets it go: the count can end
// only if the window goes on serving events while it runs.
class HeldCountDlg : public CQuirnelDlg {
public:
    std::promise<void> release;

protected:
    uint64_t CountCopiesInTarget(const std::string& source, const std::string& target) override {
        // Not forever: a count on the window's own thread would wait here
        // for a release that can never come.
        if (release.get_future().wait_for(std::chrono::seconds(20)) != std::future_status::ready)
            ADD_FAILURE() << "the count was never released";
        return CQuirnelDlg::CountCopiesInTarget(source, target);
    }
};

// What the target holds is counted at Start on a worker: the window goes on
// serving events and says it is counting, with Start, the store buttons and
// the lists shut; Stop and closing then end it without a run and without
// the offer.
TEST_F(RunTest, TheCountAtStartLeavesTheWindowServingAndEndsSafely) {
    ASSERT_TRUE(profile.AddSampleStore("Source", 300, 9));
    ASSERT_TRUE(profile.AddEmptyStore("Target"));
    ASSERT_TRUE(profile.Save());
    Open("Source", "Target");
    ASSERT_TRUE(Start());
    const uint32_t items = CountItems(profile.Dump("Target", false));
    ASSERT_GT(items, 250u);
    dlg.reset();

    auto held = std::make_unique<HeldCountDlg>();
    ASSERT_TRUE(held->OnInitDialog());
    held->show();
    for (int id : {IDC_COMBO_SOURCE, IDC_COMBO_TARGET}) {
        auto* combo = qobject_cast<QComboBox*>(held->GetDlgItem(id));
        combo->setCurrentIndex(combo->findText(id == IDC_COMBO_SOURCE ? "Source" : "Target"));
    }
    const auto button = [&](int id) { return qobject_cast<QPushButton*>(held->GetDlgItem(id)); };
    const auto status = [&] { return held->GetDlgItemText(IDC_STATIC_PROGRESS); };
    const QString before = status();
    // A timer on the window's thread lets the count go: it fires only if
    // that thread serves events while the count runs.
    QTimer::singleShot(50, held.get(), [&] { held->release.set_value(); });
    user.choice = 2;
    QSignalSpy finished(held.get(), &CQuirnelDlg::runFinished);
    QSignalSpy copying(held.get(), &CQuirnelDlg::copyStarted);
    button(IDC_START)->click();
    EXPECT_TRUE(held->RunActive());
    EXPECT_EQ(status(), QStringLiteral("Counting what the target already holds..."));
    auto* bar = qobject_cast<QProgressBar*>(held->GetDlgItem(IDC_PROGRESS_BAR));
    EXPECT_EQ(bar->maximum(), 0) << "the bar shows it is busy";
    for (int id : {IDC_START, IDC_ADD_STORE, IDC_NEW_TARGET, IDC_RENAME_SOURCE, IDC_REMOVE_TARGET,
                   IDC_COMBO_SOURCE, IDC_COMBO_TARGET})
        EXPECT_FALSE(held->GetDlgItem(id)->isEnabled()) << id;
    ASSERT_TRUE(finished.wait(60000));
    ASSERT_EQ(user.offers.size(), 1u);
    EXPECT_TRUE(user.offers[0].text.contains(QStringLiteral("already holds %1 items").arg(items)));
    EXPECT_EQ(copying.count(), 0);
    EXPECT_EQ(status(), before);
    for (int id : {IDC_START, IDC_ADD_STORE, IDC_COMBO_SOURCE, IDC_COMBO_TARGET})
        EXPECT_TRUE(held->GetDlgItem(id)->isEnabled()) << id;

    // Stop during the count: neither the offer nor a run follows.
    held->release = std::promise<void>();
    QTimer::singleShot(50, held.get(), [&] { held->release.set_value(); });
    user.choice = 1;
    button(IDC_START)->click();
    button(IDC_STOP)->click();
    ASSERT_TRUE(finished.wait(60000));
    EXPECT_EQ(user.offers.size(), 1u);
    EXPECT_EQ(copying.count(), 0);
    EXPECT_FALSE(held->RunActive());
    EXPECT_TRUE(button(IDC_START)->isEnabled());
    // A Stop of before does not hold for the next Start, which offers again.
    held->release = std::promise<void>();
    held->release.set_value();
    user.choice = 2;
    button(IDC_START)->click();
    ASSERT_TRUE(finished.wait(60000));
    EXPECT_EQ(user.offers.size(), 2u);

    // Closing during the count: the window waits for it, then closes
    // without asking and without a run.
    held->release = std::promise<void>();
    QTimer::singleShot(50, held.get(), [&] { held->release.set_value(); });
    button(IDC_START)->click();
    held->close();
    EXPECT_TRUE(held->isVisible());
    ASSERT_TRUE(finished.wait(60000));
    EXPECT_FALSE(held->isVisible());
    EXPECT_EQ(user.offers.size(), 2u);
    EXPECT_EQ(copying.count(), 0);
    held.reset();
    EXPECT_EQ(CountItems(profile.Dump("Target", false)), items);
}

// Measures the count on a large target prepared by hand, for the numbers
// (a profile named by QUIRNEL_COUNT_PROFILE with stores "Source" and a
// "Target" that holds a copy of it): how long the count takes and the
// longest the window went without serving an event meanwhile.
TEST(CountMeasure, LargeTarget) {
    if (qEnvironmentVariableIsEmpty("QUIRNEL_COUNT_PROFILE"))
        GTEST_SKIP() << "QUIRNEL_COUNT_PROFILE names no prepared profile";
    LanguageGuard english{Language::English};
    qputenv("MAPI_PROFILE", qgetenv("QUIRNEL_COUNT_PROFILE"));
    User user;
    user.choice = 2;
    CQuirnelDlg dlg;
    ASSERT_TRUE(dlg.OnInitDialog());
    dlg.show();
    for (int id : {IDC_COMBO_SOURCE, IDC_COMBO_TARGET}) {
        auto* combo = qobject_cast<QComboBox*>(dlg.GetDlgItem(id));
        combo->setCurrentIndex(combo->findText(id == IDC_COMBO_SOURCE ? "Source" : "Target"));
        ASSERT_GE(combo->currentIndex(), 0);
    }
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longestGap = 0;
    qint64 atOffer = -1;
    QTimer timer;
    timer.setInterval(0);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, clock.elapsed() - last);
        last = clock.elapsed();
    });
    user.onOffer = [&] { atOffer = clock.elapsed(); };
    QSignalSpy finished(&dlg, &CQuirnelDlg::runFinished);
    timer.start();
    clock.start();
    qobject_cast<QPushButton*>(dlg.GetDlgItem(IDC_START))->click();
    ASSERT_TRUE(finished.wait(600000));
    ASSERT_EQ(user.offers.size(), 1u);
    std::printf("count: %lld ms to the offer, longest gap between events %lld ms; %s\n",
                static_cast<long long>(atOffer), static_cast<long long>(longestGap),
                user.offers[0].text.section(QLatin1Char('\n'), 0, 0).toUtf8().constData());
}

// A rescue that lost parts does not end as a plain success: the status names
// the salvaged items, and the log that says what each lost is one click away.
TEST_F(RunTest, ADamagedCopyEndsNamingItsLossesWithTheLogAClickAway) {
    ASSERT_TRUE(profile.AddSampleStore("Source", 30, 4));
    for (const char* subject : {"Half a letter", "Torn invoice"})
        ASSERT_TRUE(profile.AddSalvagedItem("Source", subject, "Parts were lost:\nthe body"));
    ASSERT_TRUE(profile.AddEmptyStore("Target"));
    ASSERT_TRUE(profile.Save());
    Open("Source", "Target");
    const uint32_t items = CountItems(profile.Dump("Source", false));
    ASSERT_TRUE(Start());
    EXPECT_EQ(Status(), QStringLiteral("Finished with damage: %1 copied, 2 of them salvaged with "
                                       "lost parts; see the log.")
                            .arg(items));
    EXPECT_EQ(CountItems(profile.Dump("Target", false)), items);
    auto* link = qobject_cast<QLabel*>(dlg->GetDlgItem(IDC_TIME_LEFT));
    EXPECT_TRUE(link->text().contains(">Open the log<")) << link->text().toStdString();
    // Shown as a link, not as its markup.
    EXPECT_LT(link->sizeHint().width(), link->fontMetrics().horizontalAdvance(link->text()));
    QList<QUrl> opened;
    SetExternalViewerHook([&](const QUrl& url) {
        opened.push_back(url);
        return true;
    });
    emit link->linkActivated(QStringLiteral("log"));
    SetExternalViewerHook(nullptr);
    ASSERT_EQ(opened.size(), 1);
    QFile log(opened[0].toLocalFile());
    ASSERT_TRUE(log.open(QIODevice::ReadOnly)) << opened[0].toString().toStdString();
    EXPECT_TRUE(log.readAll().contains("Salvaged message Torn invoice"));
    QDir().mkpath(QStringLiteral(QUIRNEL_APP_BINARY_DIR "/renders"));
    dlg->resize(dlg->width() + 200, dlg->height() + 120);
    EXPECT_TRUE(
        dlg->grab().save(QStringLiteral(QUIRNEL_APP_BINARY_DIR "/renders/damaged-end-en.png")));

    // The next start (nothing left to copy, nothing lost) reads plain again.
    ASSERT_TRUE(Start());
    EXPECT_TRUE(Status().startsWith("Finished: 0 copied")) << Status().toStdString();
    EXPECT_EQ(link->text(), QString());
    EXPECT_TRUE(user.boxes.empty());
}

// Every file below dir with its size and time, to see that nothing changed.
QStringList Listing(const QString& dir) {
    QStringList files;
    QDirIterator it(dir, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        files << QStringLiteral("%1 %2 %3")
                     .arg(info.filePath())
                     .arg(info.size())
                     .arg(info.lastModified().toMSecsSinceEpoch());
    }
    files.sort();
    return files;
}

// A Maildir the system keeps from any change (immutable) is refused at Start
// with one box, and nothing in it changes.
TEST_F(RunTest, ATargetThatCannotBeWrittenIsRefusedAtStartUnchanged) {
    ASSERT_TRUE(profile.AddSampleStore("Source", 20, 3));
    ASSERT_TRUE(profile.Save());
    std::string file = profile.Folder() + "/frozen";
    std::string name;
    ASSERT_EQ(store_setup::CreateTargetStore(qgetenv("MAPI_PROFILE").toStdString(),
                                             store_setup::NewStoreKind::Maildir, &file, &name),
              "");
    Open("Source", name.c_str());
    const QString dir = QString::fromStdString(file);
    const QStringList before = Listing(dir);
    const std::string chattr = "chattr +i '" + file + "' 2>/dev/null";
    if (std::system(chattr.c_str()) != 0) GTEST_SKIP() << "no immutable files here";
    struct Thaw {
        std::string path;
        ~Thaw() { (void)std::system(("chattr -i '" + path + "'").c_str()); }
    } thaw{file};
    Start();
    EXPECT_EQ(dlg->LastOutcome(), quirnel::RunOutcome::Failed);
    ASSERT_EQ(user.boxes.size(), 1u);
    EXPECT_EQ(user.boxes[0].caption, QStringLiteral("Target"));
    EXPECT_TRUE(user.boxes[0].text.startsWith("Cannot copy into \"frozen\": "))
        << user.boxes[0].text.toStdString();
    EXPECT_TRUE(LastLine().startsWith("Summary: listed 0,")) << LastLine().toStdString();
    EXPECT_EQ(Listing(dir), before);
}

TEST_F(RunTest, TheOfferAndTheOutcomeSpeakGerman) {
    LanguageGuard german{Language::German};
    ASSERT_TRUE(profile.AddSampleStore("Quelle", 30, 2));
    ASSERT_TRUE(profile.AddEmptyStore("Ziel"));
    ASSERT_TRUE(profile.Save());
    Open("Quelle", "Ziel");
    ASSERT_TRUE(Start());
    EXPECT_TRUE(Status().startsWith("Fertig: ")) << Status().toStdString();
    user.choice = 2;
    EXPECT_FALSE(Start());
    ASSERT_EQ(user.offers.size(), 1u);
    EXPECT_TRUE(user.offers[0].text.startsWith("Im Ziel \"Ziel\" sind schon"));
    EXPECT_EQ(user.offerButtons, (QStringList{"&Fortsetzen", "&Erneut kopieren", "Abbrechen"}));
    quirnel::CopyLedger damaged;
    damaged.items.copied = 17;
    damaged.items.salvaged = 2;
    damaged.items.failed = 1;
    damaged.foldersSkipped = 3;
    EXPECT_EQ(OutcomeText(quirnel::RunOutcome::CompletedWithFailures, damaged),
              QStringLiteral("Fertig mit Schäden: 17 kopiert, davon 2 lückenhaft, 1 nicht "
                             "kopiert, 3 Ordner übersprungen; siehe Protokoll."));
}

// The real box behind the offer: Enter takes the default (continue), Esc
// and the close box the last button (cancel), a click the button clicked.
TEST(ResumeOffer, EnterContinuesAndEscCancels) {
    const QStringList buttons{"&Continue", "Copy &again", "Cancel"};
    const auto answer = [&](auto press) {
        QTimer::singleShot(0, [press] {
            QWidget* box = QApplication::activeModalWidget();
            ASSERT_NE(box, nullptr);
            press(qobject_cast<QMessageBox*>(box));
        });
        return AskChoice(nullptr, "The target holds items", "Quirnel", buttons, 0);
    };
    EXPECT_EQ(answer([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Return); }), 0);
    EXPECT_EQ(answer([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); }), 2);
    EXPECT_EQ(answer([](QMessageBox* box) { box->close(); }), 2);
    EXPECT_EQ(answer([](QMessageBox* box) { box->buttons().at(1)->click(); }), 1);
}

// The estimate follows the items done lately, not since the start, and
// says nothing until it has seen enough.
TEST(TimeLeft, FollowsTheRecentRateAndRoundsUpToWholeMinutes) {
    LanguageGuard english{Language::English};
    CTimeLeft estimate;
    estimate.Add(0, 0);
    estimate.Add(50, 1000);
    EXPECT_EQ(estimate.SecondsLeft(10000), -1);  // one second tells little
    // A resumed run skips 5000 items in two seconds, then copies 10 a second.
    estimate.Reset();
    estimate.Add(0, 0);
    estimate.Add(5000, 2000);
    EXPECT_EQ(estimate.SecondsLeft(6000), 1);
    for (qint64 t = 3000; t <= 40000; t += 1000) estimate.Add(5000 + (t - 2000) / 100, t);
    // 5380 done at 40 s; over the last 30 s, 10 a second: 620 left, 62 s.
    EXPECT_EQ(estimate.SecondsLeft(6000), 62);
    EXPECT_EQ(TimeLeftText(estimate.SecondsLeft(6000)), "about 2 min left");
    // Nothing moving is no estimate.
    CTimeLeft stuck;
    stuck.Add(7, 0);
    stuck.Add(7, 5000);
    EXPECT_EQ(stuck.SecondsLeft(100), -1);
    EXPECT_EQ(TimeLeftText(-1), "");
    EXPECT_EQ(TimeLeftText(59), "less than a minute left");
    EXPECT_EQ(TimeLeftText(3600), "about 1 h 0 min left");
    EXPECT_EQ(TimeLeftText(3601), "about 1 h 1 min left");
}

}  // namespace
