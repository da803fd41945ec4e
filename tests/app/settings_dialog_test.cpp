// The settings dialog driven as a user would, offscreen, through its widgets' names, over a
// real registry file.
#include "app/settings_dialog.h"

#include <memory>

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include "fake_settings_host.h"
#include "support/temp_dir.h"
#include "ui/ui_text.h"

namespace torrent
{
namespace
{

using test::temp_dir;

QString ui(std::size_t entry)
{
    const std::string_view text = ui_text(entry);
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

class SettingsDialogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_host.values.runtime.download_limit = 0;
        m_host.geometry.right = 1900;
        m_host.geometry.top = 5;
    }

    std::unique_ptr<SettingsDialog> open_dialog()
    {
        auto d = std::make_unique<SettingsDialog>(m_host);
        d->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(d.get()));
        return d;
    }

    static QLineEdit* edit(QDialog& d, const char* id)
    {
        return d.findChild<QLineEdit*>(QString::fromLatin1(id));
    }

    static void type(QDialog& d, const char* id, const char* text)
    {
        QLineEdit* e = edit(d, id);
        ASSERT_NE(e, nullptr) << id;
        e->selectAll();
        QTest::keyClicks(e, QString::fromLatin1(text));
    }

    static void save(QDialog& d)
    {
        QTest::mouseClick(d.findChild<QPushButton*>(QStringLiteral("c1")), Qt::LeftButton);
    }

    // Bytes 1..52 of the registry file ("" when it has none).
    std::string stored_bytes() const
    {
        const std::string file = m_dir.read("Zorvik.dat");
        return file.size() >= 53 ? file.substr(1, 52) : std::string();
    }

    temp_dir m_dir;
    TaskRegistry m_registry{m_dir / "Zorvik.dat"};
    test::fake_settings_host m_host{&m_registry};
};

TEST_F(SettingsDialogTest, ShowsItsTextsAndTheValuesInUse)
{
    m_host.values.max_tasks = 7;
    m_host.values.runtime.upload_limit = 51200;
    m_host.values.runtime.timed_minimise = false;
    const auto d = open_dialog();

    const struct
    {
        const char* id;
        uitext::id text;
    } labels[] = {
        {"c1060", uitext::settings_max_tasks},
        {"c1062", uitext::settings_max_connections},
        {"c1063", uitext::settings_per_task},
        {"c1047", uitext::settings_max_download_speed},
        {"c1045", uitext::settings_max_upload_speed},
        {"c1049", uitext::settings_max_upload_time},
        {"c1050", uitext::settings_minutes},
        {"c1052", uitext::settings_refresh},
        {"c1053", uitext::settings_milliseconds},
    };

    for (const auto& l : labels)
    {
        const QLabel* label = d->findChild<QLabel*>(QString::fromLatin1(l.id));
        ASSERT_NE(label, nullptr) << l.id;
        EXPECT_EQ(label->text(), ui(l.text)) << l.id;
    }
    EXPECT_EQ(d->findChild<QGroupBox*>(QStringLiteral("c1057"))->title(), ui(uitext::settings_after_restart));
    EXPECT_EQ(d->findChild<QGroupBox*>(QStringLiteral("c1058"))->title(), ui(uitext::settings_after_saving));
    const QCheckBox* upnp = d->findChild<QCheckBox*>(QStringLiteral("c1054"));
    const QCheckBox* minimise = d->findChild<QCheckBox*>(QStringLiteral("c1055"));
    const QCheckBox* confirm = d->findChild<QCheckBox*>(QStringLiteral("c1056"));
    EXPECT_EQ(upnp->text(), ui(uitext::settings_upnp));
    EXPECT_EQ(minimise->text(), ui(uitext::settings_timed_minimise));
    EXPECT_EQ(confirm->text(), ui(uitext::settings_delete_prompt));

    EXPECT_EQ(edit(*d, "c1059")->text(), QStringLiteral("7"));
    EXPECT_EQ(edit(*d, "c1061")->text(), QStringLiteral("64"));
    EXPECT_EQ(edit(*d, "c1046")->text(), QStringLiteral("0"));
    EXPECT_EQ(edit(*d, "c1044")->text(), QStringLiteral("50"));
    EXPECT_EQ(edit(*d, "c1048")->text(), QStringLiteral("30"));
    EXPECT_EQ(edit(*d, "c1051")->text(), QStringLiteral("1500"));
    EXPECT_TRUE(upnp->isChecked());
    EXPECT_FALSE(minimise->isChecked());
    EXPECT_TRUE(confirm->isChecked());
}

TEST_F(SettingsDialogTest, SaveStoresTheRecordByteForByteAndAppliesAtOnce)
{
    const auto d = open_dialog();
    type(*d, "c1059", "12");
    type(*d, "c1061", "300");
    type(*d, "c1046", "100");
    save(*d);
    EXPECT_EQ(d->result(), QDialog::Accepted);
    EXPECT_FALSE(d->isVisible());

    // The download limit takes effect at once; the maximums wait for the exit and restart.
    EXPECT_EQ(m_host.values.runtime.download_limit, 100 * 1024);
    EXPECT_EQ(m_host.values.max_tasks, 10);
    ASSERT_TRUE(m_host.saved);
    EXPECT_EQ(m_host.saved->max_tasks, 10); // 12 is stored as 10
    EXPECT_EQ(m_host.saved->max_connections, 44); // 300 cut to 8 bits
    ASSERT_EQ(m_host.upnp_calls.size(), 1u);
    EXPECT_EQ(m_host.upnp_calls[0], std::make_pair(true, true));

    const unsigned char expected[52] = {
        10,   44,   0x0F, 0x00, // tasks, connections, flags: UPnP, minimise, confirm, buttons
        0,    0,    0,    0, // reserved
        0x00, 0x90, 0x01, 0x00, // download 102400
        0x00, 0x78, 0x00, 0x00, // upload 30720
        0x40, 0x77, 0x1B, 0x00, // seeding 1800000 ms
        0xDC, 0x05, 0x00, 0x00, // refresh 1500 ms
        0,    0,    0,    0,    0,    0,    0,    0, // no user size
        0x7C, 0x01, 0x00, 0x00, // single-line width 380
        0xF9, 0x01, 0x00, 0x00, // single-line-extended 505 x 200
        0xC8, 0x00, 0x00, 0x00, 0x6C, 0x07, 0x00, 0x00, // right edge 1900
        0x05, 0x00, 0x00, 0x00, // top 5
    };
    EXPECT_EQ(stored_bytes(), std::string(reinterpret_cast<const char*>(expected), sizeof expected));
    ASSERT_TRUE(m_registry.ReadSettings());
    EXPECT_EQ(m_registry.ReadSettings()->max_connections, 44);
}

TEST_F(SettingsDialogTest, FewConnectionsBecomeTheDefault)
{
    const auto d = open_dialog();
    type(*d, "c1061", "9");
    QCheckBox* upnp = d->findChild<QCheckBox*>(QStringLiteral("c1054"));
    QTest::mouseClick(upnp, Qt::LeftButton, {}, QPoint(8, upnp->height() / 2)); // unticked
    save(*d);
    ASSERT_TRUE(m_host.saved);
    EXPECT_EQ(m_host.saved->max_connections, 64);
    EXPECT_EQ(stored_bytes().at(1), 64);
    EXPECT_FALSE(m_host.values.runtime.upnp_wanted);
    ASSERT_EQ(m_host.upnp_calls.size(), 1u);
    EXPECT_FALSE(m_host.upnp_calls[0].first);
}

TEST_F(SettingsDialogTest, RefreshPeriodOfZeroIsRefusedWithAMessage)
{
    const auto d = open_dialog();
    type(*d, "c1046", "100");
    type(*d, "c1051", "0");
    save(*d);

    auto* box = d->findChild<QMessageBox*>(QStringLiteral("refresh_refused"));
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isVisible());
    EXPECT_TRUE(box->text().contains(QStringLiteral("1 - 3600000"))) << box->text().toStdString();
    EXPECT_TRUE(box->text().startsWith(ui(uitext::settings_refresh)));
    // The old period is back in its edit, the dialog stays open and nothing changed.
    EXPECT_EQ(edit(*d, "c1051")->text(), QStringLiteral("1500"));
    EXPECT_TRUE(d->isVisible());
    EXPECT_FALSE(m_host.stored);
    EXPECT_EQ(m_host.applied, 0);
    EXPECT_EQ(m_host.values.runtime.download_limit, 0);
    EXPECT_EQ(stored_bytes(), "");
    box->close();

    // Saving again with the period put back goes through.
    save(*d);
    EXPECT_EQ(d->result(), QDialog::Accepted);
    EXPECT_EQ(m_host.values.runtime.refresh_period, 1500u);
    EXPECT_EQ(m_host.values.runtime.download_limit, 102400);
}

TEST_F(SettingsDialogTest, EscapeChangesNothing)
{
    const auto d = open_dialog();
    type(*d, "c1046", "100");
    QTest::keyClick(d.get(), Qt::Key_Escape);
    EXPECT_EQ(d->result(), QDialog::Rejected);
    EXPECT_FALSE(m_host.stored);
    EXPECT_EQ(m_host.applied, 0);
    EXPECT_TRUE(m_host.upnp_calls.empty());
}

} // namespace
} // namespace torrent
