// The built-in texts of entries 35..139 and the process-wide text table.
#include "ui/ui_text.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "base/assert.h"
#include "ui/ui_text_builtin.h"

namespace torrent
{
namespace
{

constexpr std::size_t first_fixed_entry = ui_help_page_count;

// Entries 35..139 in index order.
constexpr std::array<std::string_view, ui_text_count - first_fixed_entry> builtin_fixed = {
    /* 35 */ "",
    /* 36 */ "特点概述",
    /* 37 */ "功能键和控制",
    /* 38 */ "配置参数",
    /* 39 */ "使用技巧",
    /* 40 */ "网络没有连接，不能开始任务!",
    /* 41 */ "请首先点击[SaveTo]按钮，选择被保存路径。",
    /* 42 */ "不能开始更多的任务，也可能是磁盘空间不够或种子文件打开出错!",
    /* 43 */ "删除任务失败!",
    /* 44 */ "删除任务失败! 任务正被其它的进程所使用!",
    /* 45 */ "打开文件出错!",
    /* 46 */ "监听端口绑定失败!",
    /* 47 */ "删除下载状态文件失败!",
    /* 48 */
    "如果想关闭软件，请点击[是]按钮\r\r如果想隐藏到系统托盘，请点击[否]\r\r如果想取消当前操作，请点击[取消]"
    "\r\r",
    /* 49 */
    "如果真的想删除任务，请点击[是]按钮\r\r如果想删除任务的下载状态记录，请点击[否]"
    "按钮\r\r如果想放弃删除操作，请点击[取消]",
    /* 50 */ "如果真的想删除任务，请点击[确定]按钮\r\r如果想放弃删除操作，请点击[取消]",
    /* 51 */ "如果真的想删除下载状态文件，请点击[确定]按钮\r\r如果想放弃删除操作，请点击[取消]",
    /* 52 */ "如果真的想删除种子文件，请点击[确定]按钮\r\r如果想放弃删除操作，请点击[取消]",
    /* 53 */ "如果真的想停止该任务，请点击[确定]按钮\r\r如果想放弃停止任务操作，请点击[取消]",
    /* 54 */ "从tracker服务器得到的IP个数是：",
    /* 55 */ "成功地重新设置了以下的运行时参数：\r",
    /* 56 */ "最大上传速度=",
    /* 57 */ "最大下载速度=",
    /* 58 */ "上传超时时间(单位:分钟)=",
    /* 59 */ "显示更新时间(单位:毫秒)=",
    /* 60 */ "重新设置UPnP端口映射:",
    /* 61 */ "允许定时最小化窗口:",
    /* 62 */ "允许删除任务时提示:",
    /* 63 */ "网络已经连接上，初始化成功!",
    /* 64 */ "无法连接上网络，继续探测网络连接.....",
    /* 65 */ "UPnP创建成功!",
    /* 66 */ "UPnP失败!",
    /* 67 */
    "      [F1] = 帮助\r[♀]表示该任务正在运行\r[<>]握手信息[==]等待连接\r[<<]主动连接[>>]被动连接\r"
    "[=|]阻塞对方[|=]被阻塞\r[<=]上传中  [=>]下载中\r",
    /* 68 */ "^^",
    /* 69 */ "名称",
    /* 70 */ "种子路径",
    /* 71 */ "保存路径",
    /* 72 */ "剩余时间",
    /* 73 */ "大小",
    /* 74 */ "完成度",
    /* 75 */ "种子",
    /* 76 */ "下载速度",
    /* 77 */ "下载量",
    /* 78 */ "上传速度",
    /* 79 */ "上传量",
    /* 80 */ "拥有量",
    /* 81 */ "IP地址",
    /* 82 */ "版本号",
    /* 83 */ "选择",
    /* 84 */ "文件名",
    /* 85 */ "文件大小",
    /* 86 */ "文件大小",
    /* 87 */ "剩余时间",
    /* 88 */ "下载速度",
    /* 89 */ "上传速度",
    /* 90 */ "连接数",
    /* 91 */ "完成度",
    /* 92 */ "下载量",
    /* 93 */ "上传量",
    /* 94 */ "下载完毕!",
    /* 95 */ "停止!",
    /* 96 */ "当前任务数:最大任务数",
    /* 97 */ "重启后有效",
    /* 98 */ "最大任务个数",
    /* 99 */ "最大连接个数",
    /* 100 */ "/每个任务",
    /* 101 */ "保存后有效",
    /* 102 */ "最大下载速度",
    /* 103 */ "最大上传速度",
    /* 104 */ "最大上传时间",
    /* 105 */ "分钟",
    /* 106 */ "显示内容更新",
    /* 107 */ "毫秒",
    /* 108 */ "自动最小化窗口",
    /* 109 */ "删除任务时提示",
    /* 110 */ "UPnP自动端口映射",
    /* 111 */ "切换到单任务模式  [F2]",
    /* 112 */ "开始任务  [Ld]",
    /* 113 */ "停止任务  [Ld]",
    /* 114 */ "删除选定任务  [R]",
    /* 115 */ "删除下载状态记录",
    /* 116 */ "删除任务和下载状态记录",
    /* 117 */ "删除任务,种子,下载状态记录",
    /* 118 */ "打开任务被保存的文件夹  [Shift+L]",
    /* 119 */ "打开种子所在的文件夹  [Ctrl+L]",
    /* 120 */ "修改默认保存路径",
    /* 121 */ "开始一个新任务",
    /* 122 */ "窗口置顶  [F3]",
    /* 123 */ "仅显示所有任务的信息  [F4]",
    /* 124 */ "自动最小化窗口",
    /* 125 */ "关闭声音提示",
    /* 126 */ "打开My Zorvik文件夹",
    /* 127 */ "显示信息历史窗口",
    /* 128 */ "配置......",
    /* 129 */ "帮助  [F1]",
    /* 130 */ "是",
    /* 131 */ "否",
    /* 132 */ "内网",
    /* 133 */ "外网",
    /* 134 */ "下载文件选择窗体",
    /* 135 */ "大小",
    /* 136 */ "文件数",
    /* 137 */ "选择文件",
    /* 138 */ "改变文件",
    /* 139 */ "帮助",
};

// The table in use. Tables once installed are never freed, so a view handed out by
// ui_text() stays valid even if a later install replaces the table.
std::atomic<const ui_text_table*> g_current{nullptr};

std::mutex& install_mutex()
{
    static std::mutex m;
    return m;
}

std::vector<std::unique_ptr<const ui_text_table>>& installed_tables()
{
    static auto* tables = new std::vector<std::unique_ptr<const ui_text_table>>(); // never destroyed
    return *tables;
}

} // namespace

std::string_view builtin_ui_text(std::size_t index) noexcept
{
    if (index < first_fixed_entry)
        return detail::builtin_help_pages[index];
    if (index < ui_text_count)
        return builtin_fixed[index - first_fixed_entry];
    return {};
}

ui_text_table::ui_text_table()
{
    for (std::size_t i = 0; i < ui_text_count; ++i)
        m_entries[i] = std::string(builtin_ui_text(i));
}

const std::string& ui_text_table::operator[](std::size_t index) const
{
    ZV_ASSERT(index < ui_text_count);
    return m_entries[index < ui_text_count ? index : first_fixed_entry];
}

void ui_text_table::set(std::size_t index, std::string text)
{
    ZV_ASSERT(index < ui_text_count);
    if (index < ui_text_count)
        m_entries[index] = std::move(text);
}

std::string_view ui_text(std::size_t index) noexcept
{
    if (index >= ui_text_count)
        return {};
    const ui_text_table* table = g_current.load(std::memory_order_acquire);
    if (table == nullptr)
        return builtin_ui_text(index);
    return (*table)[index];
}

void install_ui_text(ui_text_table table)
{
    const std::lock_guard lock(install_mutex());
    auto owned = std::make_unique<const ui_text_table>(std::move(table));
    g_current.store(owned.get(), std::memory_order_release);
    installed_tables().push_back(std::move(owned));
}

} // namespace torrent
