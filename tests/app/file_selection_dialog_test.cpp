// The file choice dialog driven as a user would, offscreen, through its widgets' names.
#include "app/file_selection_dialog.h"

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

#include "storage/torrent_maker.h"
#include "support/temp_dir.h"
#include "ui/number_format.h"
#include "ui/ui_text.h"

namespace torrent
{
namespace
{

using test::temp_dir;

class FileSelectionDialogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // x and y in folder a, z in folder b.
        const test::made_torrent t = test::make_multi_file(
            "album",
            {{{"a", "x"}, test::pattern_bytes(3000, 1)},
             {{"a", "y"}, test::pattern_bytes(5000, 2)},
             {{"b", "z"}, test::pattern_bytes(1536, 3)}},
            1024);
        m_torrent = m_dir.write("album.torrent", t.bytes);
    }

    std::unique_ptr<FileSelectionDialog> open_dialog()
    {
        auto d = std::make_unique<FileSelectionDialog>(m_torrent, m_dir / "save", m_dir / "data/");
        d->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(d.get()));
        return d;
    }

    static QTableView* list(QDialog& d) { return d.findChild<QTableView*>(QStringLiteral("c1010")); }

    static QString cell(QDialog& d, int row, int column)
    {
        QTableView* view = list(d);
        return view->model()->index(row, column).data().toString();
    }

    static QString label(QDialog& d, const char* id)
    {
        const QLabel* l = d.findChild<QLabel*>(QString::fromLatin1(id));
        return l != nullptr ? l->text() : QStringLiteral("<missing>");
    }

    static void double_click(QDialog& d, int row)
    {
        QTableView* view = list(d);
        const QRect r = view->visualRect(view->model()->index(row, 1));
        // A double click as the window system delivers it: a click, then the second press.
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, r.center());
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, r.center());
    }

    static void click_header(QDialog& d, int section)
    {
        QHeaderView* header = list(d)->horizontalHeader();
        const int x = header->sectionViewportPosition(section) + header->sectionSize(section) / 2;
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
    }

    static void save(QDialog& d)
    {
        QTest::mouseClick(d.findChild<QPushButton*>(QStringLiteral("c1043")), Qt::LeftButton);
    }

    [[nodiscard]] std::string state_file() const { return test::read_file(m_dir / "data/album.ZRV"); }

    temp_dir m_dir;
    std::string m_torrent;
};

TEST_F(FileSelectionDialogTest, FirstDialogListsFoldersWithEveryFileChosenAndChoosingNoneStoresAll)
{
    auto d = open_dialog();
    EXPECT_EQ(d->windowTitle().toStdString(), ui_text(uitext::file_select_title));
    ASSERT_NE(list(*d), nullptr);
    ASSERT_EQ(list(*d)->model()->rowCount(), 5);
    const QStringList marks = {
        QStringLiteral("    --"),
        QStringLiteral("    √"),
        QStringLiteral("    √"),
        QStringLiteral("    --"),
        QStringLiteral("    √")};
    const QStringList names = {
        QStringLiteral("a"),
        QStringLiteral("  x"),
        QStringLiteral("  y"),
        QStringLiteral("b"),
        QStringLiteral("  z")};
    for (int r = 0; r < 5; ++r)
    {
        EXPECT_EQ(cell(*d, r, 0), marks[r]) << r;
        EXPECT_EQ(cell(*d, r, 1), names[r]) << r;
    }
    EXPECT_EQ(cell(*d, 4, 2), QStringLiteral("  1.500K"));
    EXPECT_EQ(cell(*d, 3, 2), QString());
    EXPECT_EQ(
        list(*d)->model()->headerData(1, Qt::Horizontal).toString().toStdString(),
        ui_text(uitext::column_file_name));
    EXPECT_EQ(label(*d, "c1034"), QStringLiteral("3"));
    EXPECT_EQ(label(*d, "c1030"), QStringLiteral("3"));
    EXPECT_EQ(label(*d, "c1038"), QStringLiteral("3"));

    // A double click takes x back; on a folder it does nothing.
    double_click(*d, 1);
    double_click(*d, 0);
    EXPECT_EQ(cell(*d, 1, 0), QString());
    EXPECT_EQ(cell(*d, 0, 0), QStringLiteral("    --"));
    EXPECT_EQ(label(*d, "c1030"), QStringLiteral("2"));
    EXPECT_EQ(label(*d, "c1031"), QString::fromStdString(FormatSize(6536)));
    // The header: the first click chooses every file (x again), the second takes all back.
    click_header(*d, 0);
    EXPECT_EQ(cell(*d, 1, 0), QStringLiteral("    √"));
    click_header(*d, 2);
    for (const int r : {1, 2, 4})
        EXPECT_EQ(cell(*d, r, 0), QString()) << r;
    EXPECT_EQ(label(*d, "c1038"), QStringLiteral("0"));

    save(*d);
    EXPECT_EQ(d->result(), QDialog::Accepted);
    EXPECT_FALSE(d->isVisible());
    EXPECT_EQ(d->last_save(), file_save_result::stored);
    EXPECT_EQ(state_file(), std::string("\x03\x00\x00\x00\xFF", 5));
    EXPECT_TRUE(d->selection().chosen(2));
}

TEST_F(FileSelectionDialogTest, KeptFilesStayAndSaveWithoutAChangeLeavesTheDialogOpen)
{
    {
        auto first = open_dialog();
        double_click(*first, 2); // y not chosen
        save(*first);
        ASSERT_EQ(first->result(), QDialog::Accepted);
    }
    auto d = open_dialog();
    EXPECT_EQ(cell(*d, 1, 0), QStringLiteral("√"));
    EXPECT_EQ(cell(*d, 2, 0), QString());
    double_click(*d, 1); // kept: stays
    EXPECT_EQ(cell(*d, 1, 0), QStringLiteral("√"));
    save(*d);
    EXPECT_TRUE(d->isVisible());
    EXPECT_EQ(d->result(), QDialog::Rejected);
    EXPECT_EQ(state_file(), std::string("\x03\x00\x00\x00\x05", 5));

    // Choosing y is a change: stored, and the dialog ends.
    double_click(*d, 2);
    EXPECT_EQ(label(*d, "c1038"), QStringLiteral("1"));
    save(*d);
    EXPECT_FALSE(d->isVisible());
    EXPECT_EQ(state_file(), std::string("\x03\x00\x00\x00\x07", 5));
    const auto files = d->selection().to_file_selection();
    ASSERT_TRUE(files);
    EXPECT_TRUE(files->is_chosen(1));
}

TEST_F(FileSelectionDialogTest, TheListFollowsTheDialogsSize)
{
    auto d = open_dialog();
    QTableView* view = list(*d);
    const QRect before = view->geometry();
    d->resize(d->width() + 200, d->height() + 150);
    QApplication::processEvents();
    EXPECT_EQ(view->geometry().top(), before.top());
    EXPECT_EQ(view->width(), before.width() + 200);
    EXPECT_EQ(view->height(), before.height() + 150);
}

TEST_F(FileSelectionDialogTest, SingleFileTorrentShowsItsFileAndSaveDoesNothing)
{
    const test::made_torrent one = test::make_single_file("movie.mkv", test::pattern_bytes(4000, 9), 1024);
    FileSelectionDialog d(m_dir.write("one.torrent", one.bytes), m_dir / "save", m_dir / "data/");
    d.show();
    ASSERT_EQ(list(d)->model()->rowCount(), 1);
    EXPECT_EQ(cell(d, 0, 0), QStringLiteral("√"));
    EXPECT_EQ(cell(d, 0, 1), QStringLiteral("movie.mkv"));
    save(d);
    EXPECT_TRUE(d.isVisible());
    EXPECT_FALSE(test::exists(m_dir / "data/movie.mkv.ZRV"));
}

} // namespace
} // namespace torrent
