// The help viewer driven offscreen through its widgets' names.
#include "app/help_dialog.h"

#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include "ui/ui_text.h"

namespace torrent
{
namespace
{

QString page(std::size_t index)
{
    const std::string_view text = ui_text(index);
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))
        .replace(QLatin1Char('\r'), QLatin1Char('\n'));
}

template <class W>
W* child(const char* id)
{
    HelpDialog* d = help_window();
    return d != nullptr ? d->findChild<W*>(QString::fromLatin1(id)) : nullptr;
}

QString counter()
{
    return child<QLabel>("c1033")->text();
}

QString shown()
{
    return child<QLabel>("c1036")->text();
}

void click(const char* id)
{
    QTest::mouseClick(child<QPushButton>(id), Qt::LeftButton);
}

// The viewer is one per process, so its whole life is one test, in order.
TEST(HelpViewer, PagesWrapTopicsJumpAndTheLastPageSurvivesClosing)
{
    ASSERT_EQ(help_window(), nullptr);
    ShowHelp(true);
    HelpDialog* d = help_window();
    ASSERT_NE(d, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(d));
    EXPECT_FALSE(d->isModal());

    // First opening: page 1 of 35, the first help text.
    EXPECT_EQ(counter(), QStringLiteral("1 / 35"));
    EXPECT_EQ(shown(), page(0));

    click("c1034"); // "<<" on page 1
    EXPECT_EQ(counter(), QStringLiteral("35 / 35"));
    EXPECT_EQ(shown(), page(34));
    click("c1035"); // ">>" on page 35
    EXPECT_EQ(counter(), QStringLiteral("1 / 35"));
    click("c1035");
    EXPECT_EQ(counter(), QStringLiteral("2 / 35"));

    // The topic "usage tips" goes to page 30; the next ">>" to page 31.
    auto* topics = child<QComboBox>("c1042");
    ASSERT_EQ(topics->count(), 4);
    EXPECT_EQ(topics->itemText(3), QString::fromUtf8(ui_text(uitext::topic_tips).data()));
    topics->activated(3);
    EXPECT_EQ(counter(), QStringLiteral("30 / 35"));
    EXPECT_EQ(shown(), page(29));
    click("c1035");
    EXPECT_EQ(counter(), QStringLiteral("31 / 35"));
    topics->activated(1);
    EXPECT_EQ(counter(), QStringLiteral("12 / 35"));
    click("c1035");

    // Escape only hides it; opening it again shows it as it was.
    QTest::keyClick(d, Qt::Key_Escape);
    EXPECT_FALSE(d->isVisible());
    ASSERT_EQ(help_window(), d);
    ShowHelp(true);
    EXPECT_TRUE(d->isVisible());
    EXPECT_EQ(counter(), QStringLiteral("13 / 35"));
    d->close(); // its own close box
    EXPECT_EQ(help_window(), d);

    // Hiding the main window in the tray closes the viewer for good; the next one opens on
    // the page last viewed. The first is watched through a guarded pointer: once deleted,
    // its address may well be the new one's.
    const QPointer<HelpDialog> first = d;
    ShowHelp(false);
    EXPECT_EQ(help_window(), nullptr);
    ShowHelp(true);
    ASSERT_NE(help_window(), nullptr);
    EXPECT_NE(help_window(), first.data());
    EXPECT_EQ(counter(), QStringLiteral("13 / 35"));
    EXPECT_EQ(shown(), page(12));
    EXPECT_EQ(child<QComboBox>("c1042")->currentIndex(), 1); // the topic the page belongs to

    // Every page fits the page area whole.
    auto* text = child<QLabel>("c1036");
    for (std::size_t i = 0; i < ui_help_page_count; ++i)
    {
        text->setText(page(i));
        EXPECT_LE(text->heightForWidth(text->width()), text->height()) << "page " << i + 1;
    }
    ShowHelp(false);
}

} // namespace
} // namespace torrent
