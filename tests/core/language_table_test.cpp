#include "lang/language_table.h"

#include <gtest/gtest.h>
#include <iconv.h>
#include <string>

using namespace vireo;

namespace {

// The Chinese rows as they were written, in UTF-8.
const char* const kChineseUtf8[kLanguageRowCount] = {
    // UTF-8 originals of every Chinese row, by id.
    /*   0 */ "中文",
    /*   1 */ "选择语言(Software Language):",
    /*   2 */ "选择 IRDs:",
    /*   3 */ "确认",
    /*   4 */ "取消",
    /*   5 */ "选择升级类型",
    /*   6 */ "转发器信息",
    /*   7 */ "频率",
    /*   8 */ "极化方式",
    /*   9 */ "符号率",
    /*  10 */ "NIT",
    /*  11 */ "调制方式",
    /*  12 */ "FEC 卷积率",
    /*  13 */ "垂直",
    /*  14 */ "水平",
    /*  15 */ "自动",
    /*  16 */ "关闭",
    /*  17 */ "开启",
    /*  18 */ "端口 A",
    /*  19 */ "端口 B",
    /*  20 */ "端口 C",
    /*  21 */ "端口 D",
    /*  22 */ "低本振",
    /*  23 */ "高本振",
    /*  24 */ "LNB 供电",
    /*  25 */ "22K 开关",
    /*  26 */ "DISEQC",
    /*  27 */ "卫星名",
    /*  28 */ "登录",
    /*  29 */ "卫星信息设置",
    /*  30 */ "IRD 名字",
    /*  31 */ "IP 地址",
    /*  32 */ "子网掩码",
    /*  33 */ "MAC 地址",
    /*  34 */ "IRD IP 配置",
    /*  35 */ "删除卫星: ",
    /*  36 */ "删除转发器: ",
    /*  37 */ "删除节目: ",
    /*  38 */ "没有获得版本信息\n是否询问?",
    /*  39 */ "是否升级: ",
    /*  40 */ ":你获取了一个错误的IP地址\n是否关闭当前子窗口?",
    /*  41 */ ":更新的IP地址已经存在!\n是否关闭当前子窗口?",
    /*  42 */ "是否保存IRD信息?",
    /*  43 */ "新建",
    /*  44 */ "显示",
    /*  45 */ "(重新)连接",
    /*  46 */ "断开",
    /*  47 */ "更新信息",
    /*  48 */ "配置IP",
    /*  49 */ "修改IP",
    /*  50 */ "升级",
    /*  51 */ "文件(&F)",
    /*  52 */ "新建(&N)",
    /*  53 */ "退出(&x)",
    /*  54 */ "窗口(&W)",
    /*  55 */ "层叠窗口(&C)",
    /*  56 */ "横向平铺窗口(&H)",
    /*  57 */ "纵向平铺窗口(&V)",
    /*  58 */ "最小化所有窗口(&M)",
    /*  59 */ "排列所有窗口(&A)",
    /*  60 */ "配置(&C)",
    /*  61 */ "十六进制显示",
    /*  62 */ "帮助(&H)",
    /*  63 */ "关于(&A)...",
    /*  64 */ "新建",
    /*  65 */ "关闭当前IRD窗口",
    /*  66 */ "连接当前IRD窗口",
    /*  67 */ "更新当前IRD窗口信息",
    /*  68 */ "升级当前IRD窗口软件",
    /*  69 */ "高清专业解码器",
    /*  70 */ "节目管理",
    /*  71 */ "系统设置",
    /*  72 */ "CI管理",
    /*  73 */ "播放节目",
    /*  74 */ "停止搜索",
    /*  75 */ "删除节目",
    /*  76 */ "设置多节目解扰",
    /*  77 */ "上模块",
    /*  78 */ "下模块",
    /*  79 */ "停止解扰",
    /*  80 */ "搜索卫星",
    /*  81 */ "设置卫星",
    /*  82 */ "删除卫星",
    /*  83 */ "添加卫星",
    /*  84 */ "添加转发器",
    /*  85 */ "删除转发器",
    /*  86 */ "设置转发器",
    /*  87 */ "搜索转发器",
    /*  88 */ "十六进制显示",
    /*  89 */ "十进制显示",
    /*  90 */ "更新节目",
    /*  91 */ "选择音频",
    /*  92 */ "信号强度",
    /*  93 */ "信号质量",
    /*  94 */ "实时监控",
    /*  95 */ "广播节目",
    /*  96 */ "音频PID:",
    /*  97 */ "AC3 PID:",
    /*  98 */ "未知音频类型PID:",
    /*  99 */ "基本设置",
    /* 100 */ "音量设置",
    /* 101 */ "信号来源",
    /* 102 */ "TS流包长",
    /* 103 */ "TS流类型",
    /* 104 */ "语言",
    /* 105 */ "宽高比",
    /* 106 */ "显示类型",
    /* 107 */ "轮巡间隔",
    /* 108 */ "恢复出厂设置",
    /* 109 */ "V发音",
    /* 110 */ "S静音",
    /* 111 */ "LNB IN",
    /* 112 */ "ASI IN",
    /* 113 */ "出厂设置",
    /* 114 */ "应用",
    /* 115 */ "原始流",
    /* 116 */ "解密流",
    /* 117 */ "无输出",
    /* 118 */ "英语",
    /* 119 */ "中文",
    /* 120 */ "连接IRD",
    /* 121 */ "视频PID:",
    /* 122 */ "PCR PID:",
    /* 123 */ "图文信息PID:",
    /* 124 */ "产品名称:  ",
    /* 125 */ "专业高清解码器网管  ",
    /* 126 */ "产品版本: ",
    /* 127 */ "版权:  ",
    /* 128 */ "描述:  ",
    /* 129 */ "专业高清解码器网管  ",
    /* 130 */ "实现多机多网管 ",
    /* 131 */ "2.29.6 ",
    /* 132 */ "(C) 2026 Vireo 网管开发组 ",
    /* 133 */ "断开IRD",
    /* 134 */ "开始解析IP",
    /* 135 */ "开始连接通信端口",
    /* 136 */ "通信端口连接成功",
    /* 137 */ "通信端口没能被关闭,退出连接",
    /* 138 */ "STARTUP 错误,退出连接",
    /* 139 */ "SOCKET CREATE 错误,退出连接",
    /* 140 */ "SOCKET OPTION 错误,退出连接",
    /* 141 */ "SET BLOCK 错误,退出连接",
    /* 142 */ "系统错误,退出连接",
    /* 143 */ "开始监控",
    /* 144 */ "重连端口失败",
    /* 145 */ "重新开始监控",
    /* 146 */ "更新解码器信息",
    /* 147 */ "通信失败,退出连接",
    /* 148 */ "断开连接",
    /* 149 */ "没有待删转发器",
    /* 150 */ "没有待删卫星",
    /* 151 */ "没有待删节目",
    /* 152 */ "不能找到待删节目",
    /* 153 */ "不能找到待删转发器",
    /* 154 */ "不能找到待删卫星",
    /* 155 */ "取消升级!",
    /* 156 */ "选择升级文件:",
    /* 157 */ "升级正常工作",
    /* 158 */ "解码器版本ID: ",
    /* 159 */ "升级文件版本ID: ",
    /* 160 */ "升级文件错误",
    /* 161 */ "总块数: ",
    /* 162 */ "传输中: ",
    /* 163 */ "传输完毕!",
    /* 164 */ "升级: ",
    /* 165 */ "升级完毕,请等待解码器重启!",
    /* 166 */ "解码器恢复出厂设置,请重新更新所有数据!",
    /* 167 */ "解码器信号来源变化,请重新更新所有数据!",
    /* 168 */ "解码器网卡地址变化,请确认新地址后重新更新所有数据!",
    /* 169 */ "不存在",
    /* 170 */ "自动重发请求消息",
    /* 171 */ "解码器所在状态无法响应之前消息",
    /* 172 */ "不能找到匹配转发器",
    /* 173 */ "没有找到IC卡",
    /* 174 */ "删除转发器失败: ",
    /* 175 */ "删除卫星失败: ",
    /* 176 */ "删除节目失败: ",
    /* 177 */ "增加卫星失败: ",
    /* 178 */ "不能找到匹配的搜索",
    /* 179 */ "请重新更新解码器信息",
    /* 180 */ "解码器已经退出搜索",
    /* 181 */ "解码器未进行任何搜索操作",
    /* 182 */ "解码器信号输入变化!",
    /* 183 */ "当前播放节目信息错误",
    /* 184 */ "音频更改成功",
    /* 185 */ "是否重启?",
    /* 186 */ "是否改变信号来源",
    /* 187 */ "解码器没有响应",
    /* 188 */ " 发送消息 ",
    /* 189 */ "查询节目信息:",
    /* 190 */ "传输错误,自动重发",
    /* 191 */ "请求超出解码器允许操作范围",
    /* 192 */ "更新失败,重新发送更新请求",
    /* 193 */ "成功",
    /* 194 */ "失败",
    /* 195 */ " 电视: ",
    /* 196 */ " 广播: ",
    /* 197 */ " 未知",
    /* 198 */ " 锁定",
    /* 199 */ " 未锁定",
    /* 200 */ "解扰所有音频",
    /* 201 */ "搜索完成",
    /* 202 */ "没有搜索到节目",
    /* 203 */ "没有搜索到新节目",
    /* 204 */ "新建解码器网络设置",
    /* 205 */ "修改解码器网络属性",
    /* 206 */ "配置解码器网络属性",
    /* 207 */ "添加卫星设置",
    /* 208 */ "静音状态",
    /* 209 */ "放音状态:音量",
    /* 210 */ "重启",
    /* 211 */ "是否重启?",
    /* 212 */ "无法保存解码器列表到 ",
    /* 213 */ "\n原文件保持不变。是否不保存而退出?",
    /* 214 */ "解码器没有报告版本信息",
    /* 215 */ "告警产生：",
    /* 216 */ "告警解除：",
    /* 217 */ "信号失锁",
    /* 218 */ "信号质量低",
    /* 219 */ "链路中断",
    /* 220 */ "设备重启",
    /* 221 */ "版本变更",
    /* 222 */ "信号历史",
    /* 223 */ "10分钟",
    /* 224 */ "1小时",
    /* 225 */ "24小时",
    /* 226 */ "7天",
    /* 227 */ "30天",
    /* 228 */ "信号强度",
    /* 229 */ "信号质量",
    /* 230 */ "未锁定",
    /* 231 */ "未连接",
    /* 232 */ "可用率: ",
    /* 233 */ "开始",
    /* 234 */ "结束",
    /* 235 */ "持续时间",
    /* 236 */ "导出CSV...",
    /* 237 */ "此时间段内没有信号记录",
    /* 238 */ "告警",
    /* 239 */ "解码器",
    /* 240 */ "规则",
    /* 241 */ "开始时间",
    /* 242 */ "已确认",
    /* 243 */ "确认",
    /* 244 */ "显示已清除",
    /* 245 */ "告警规则...",
    /* 246 */ "告警规则",
    /* 247 */ "信号未锁定",
    /* 248 */ "信号质量低",
    /* 249 */ "连接中断",
    /* 250 */ "解码器重启",
    /* 251 */ "版本变更",
    /* 252 */ "全局默认",
    /* 253 */ "启用",
    /* 254 */ "阈值 (%)",
    /* 255 */ "持续 (秒)",
    /* 256 */ "此解码器使用自己的规则",
    /* 257 */ "信号历史数据库已损坏, 已移至 ",
    /* 258 */ "\n已新建信号历史数据库。",
    /* 259 */ "无法导出信号历史到 ",
    /* 260 */ "告警(&A)",
    /* 261 */ "告警窗口",
    /* 262 */ "时间范围:",
    /* 263 */ "(进行中)",
    /* 264 */ "状态",
    /* 265 */ "信号历史不可用: ",
    /* 266 */ "中断次数: ",
    /* 267 */ "恢复 (秒)",
};

std::string gbkToUtf8(const std::string& gbk)
{
    iconv_t cd = iconv_open("UTF-8", "GBK");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        ADD_FAILURE() << "no GBK converter";
        return {};
    }
    std::string in = gbk;
    std::string out(gbk.size() * 3 + 4, '\0');
    char* inPtr = in.data();
    size_t inLeft = in.size();
    char* outPtr = out.data();
    size_t outLeft = out.size();
    const size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1)) {
        return "<invalid GBK>";
    }
    out.resize(out.size() - outLeft);
    return out;
}

class LanguageTableTest : public ::testing::Test
{
protected:
    void TearDown() override { DestroyLanguageTable(); }
};

} // namespace

TEST_F(LanguageTableTest, EmptyBeforeFirstBuildAndOutsideTheTable)
{
    DestroyLanguageTable();
    EXPECT_EQ(GetLangText(0), "");
    EXPECT_EQ(GetLangText(136), "");

    SetLanguageFlag(1);
    ASSERT_TRUE(BuildLanguageTable());
    EXPECT_EQ(GetLangText(211), "Reboot now?");
    EXPECT_EQ(GetLangText(214), "The IRD did not report its version");
    EXPECT_EQ(GetLangText(kLanguageRowCount), "");
    EXPECT_EQ(GetLangText(-1), "");
    EXPECT_EQ(GetLangText(100000), "");
}

TEST_F(LanguageTableTest, FlagSelectsTheLanguageAtBuildTime)
{
    SetLanguageFlag(0);
    BuildLanguageTable();
    EXPECT_EQ(gbkToUtf8(GetLangText(0)), "中文");
    EXPECT_EQ(gbkToUtf8(GetLangText(118)), "英语");

    // Changing the flag alone does not touch a built table.
    SetLanguageFlag(1);
    EXPECT_EQ(gbkToUtf8(GetLangText(0)), "中文");

    BuildLanguageTable();
    EXPECT_EQ(GetLangText(0), "English");
    EXPECT_EQ(GetLangText(118), "English");

    // Any non-zero flag means English.
    SetLanguageFlag(7);
    BuildLanguageTable();
    EXPECT_EQ(GetLangText(136), "Connect successfully");
}

TEST_F(LanguageTableTest, EveryChineseRowIsTheGbkOfItsText)
{
    for (int id = 0; id < kLanguageRowCount; ++id) {
        EXPECT_EQ(gbkToUtf8(lang_rows::kChinese[id]), kChineseUtf8[id]) << "row " << id;
    }
    EXPECT_EQ(std::string(lang_rows::kChinese[185]), lang_rows::kChinese[211]);
    EXPECT_EQ(gbkToUtf8(lang_rows::kChinese[185]), "是否重启?");
}

TEST_F(LanguageTableTest, EnglishRowsAreAsciiExceptTheLanguageLabel)
{
    for (int id = 0; id < kLanguageRowCount; ++id) {
        const std::string row = lang_rows::kEnglish[id];
        if (id == 1) {
            EXPECT_EQ(gbkToUtf8(row), "Software Language(中文):");
            continue;
        }
        for (unsigned char c : row) {
            EXPECT_LT(c, 0x80) << "row " << id;
        }
        EXPECT_FALSE(row.empty()) << "row " << id;
    }
}

TEST_F(LanguageTableTest, TextsKeepTheirBlanksTabsAndLineBreaks)
{
    SetLanguageFlag(1);
    BuildLanguageTable();
    EXPECT_EQ(GetLangText(18), "Port  A");
    EXPECT_EQ(GetLangText(39), "Do you want to upgrade\t");
    EXPECT_EQ(GetLangText(38), "doesn't gain the versin information\n\n do you want to request?");
    EXPECT_EQ(GetLangText(169), " doesn't exist!");
    EXPECT_EQ(GetLangText(188), " Send Message ");
    EXPECT_EQ(GetLangText(35), "Delete Satellite: ");

    SetLanguageFlag(0);
    BuildLanguageTable();
    EXPECT_EQ(gbkToUtf8(GetLangText(131)), "2.29.6 ");
    const std::string rights = gbkToUtf8(GetLangText(132));
    ASSERT_FALSE(rights.empty());
    EXPECT_EQ(rights.back(), ' ');
}
