#include "formula/compile_errors.h"

#include <array>
#include <cstdio>

#include "platform/text.h"

namespace tessaro {

namespace {

// The message table, UTF-8 here and GBK once formatted. Each template fits 99 GBK bytes.
constexpr std::array<std::string_view, kCompileErrorCount> kTemplates = {
    "指定的数字超出了该系统允许的数字的最大位数[%0位]",   // 0
    "%0是系统保留字，不能用在语句开头",                   // 1
    "变量[%0]被重复定义",                                 // 2
    "该编译系统只允许赋值语句[:或:=]",                    // 3
    "赋值语句的后面只能由装饰字来修饰,%0不是修饰字",      // 4
    "缺少分号[分号是语句结束符号]",                       // 5
    "不是关系运算符，错误",                               // 6
    "数字过大",                                           // 7
    "表达式缺少右括号",                                   // 8
    "缺少左括号",                                         // 9
    "缺少右括号",                                         // 10
    "%0函数的参数个数不匹配,%1",                          // 11
    "%0函数的参数类型不匹配,%1",                          // 12
    "带参数的引用后必须是左括号",                         // 13
    "引用参数必须是常数数值",                             // 14
    "引用的参数个数不匹配",                               // 15
    "表达式中引用了未定义的变量",                         // 16
    "字符串缺结束引号",                                   // 17
    "引用串缺结束引号",                                   // 18
    "公式至少要有一个输出表达式",                         // 19
    "引用的公式不存在",                                   // 20
    "引用字符串格式错误",                                 // 21
    "引用的公式中的指标不存在",                           // 22
    "引用指标中的周期字符串书写错误",                     // 23
    "引用字符串的长度超长了",                             // 24
    "操作数错误，不能是字符串",                           // 25
    "操作数错误，数字和布尔不能在一起运算",               // 26
    "该种编译类型只能有1条指标线",                        // 27
    "交易系统的指标名称是固定,用户不能指定",              // 28
    "指标名称超长，最大只允许15个字符%0",                 // 29
    "公式文本内容为空，无法编译",                         // 30
    "%0函数参数不能够缺省，必须指定",                     // 31
    "引用语句格式错误",                                   // 32
    "引用中的股票格式非法",                               // 33
    "不能识别的标识符",                                   // 34
    "无效的操作数",                                       // 35
    "STKINDI语句的长度超长了%0",                          // 36
    "STKINDI语句周期格式错误",                            // 37
    "STKINDI语句公式引用格式错误",                        // 38
    "STKINDI语句公式的参数个数错误%s",                    // 39
    "STKINDI语句中的参数中股票名称(第一个参数)缺少单引号",  // 40
    "STKINDI语句中的参数中公式名称(第二个参数)缺少单引号",  // 41
    "超出了标识符的最大长度%0",                           // 42
    "引用的公式参数数目不匹配%0",                         // 43
    "股票引用不能有参数",                                 // 44
    "未定义的错误",                                       // 45
    "公式中的未命名的指标数量超出最大值%s",               // 46
    "字符串的长度超长%0",                                 // 47
    "无效的引用字符串",                                   // 48
    "%0是无参函数,因此不能带参数",                        // 49
    "保留字冲突",                                         // 50
    "公式超出了编译系统的限制,%0",                        // 51
};

// Longest argument substituted into a template; longer ones are cut (never mid-character).
constexpr size_t kMaxArgumentBytes = 100;

void AppendArgument(std::string& out, std::string_view arg) {
    out += CutGbk(arg, kMaxArgumentBytes);
}

}  // namespace

std::string_view CompileErrorTemplate(int code) {
    if (code < 0 || code >= kCompileErrorCount) return {};
    return kTemplates[static_cast<size_t>(code)];
}

std::string FormatCompileError(int code, std::string_view arg0, std::string_view arg1) {
    std::string tmpl = Utf8ToGbk(CompileErrorTemplate(code));
    bool hasNumbered = tmpl.find("%0") != std::string::npos;
    std::string out = Utf8ToGbk("错误") + std::to_string(code) + ":";
    for (size_t i = 0; i < tmpl.size(); ++i) {
        unsigned char ch = static_cast<unsigned char>(tmpl[i]);
        if (IsGbkLead(ch) && i + 1 < tmpl.size()) {
            out += tmpl[i];
            out += tmpl[++i];
            continue;
        }
        if (ch == '%' && i + 1 < tmpl.size()) {
            char next = tmpl[i + 1];
            if (next == '0' || next == '1') {
                AppendArgument(out, next == '0' ? arg0 : arg1);
                ++i;
                continue;
            }
            // The detail slot of errors 39 and 46 is written "%s": it shows the detail too.
            if (next == 's' && !hasNumbered) {
                AppendArgument(out, arg0);
                ++i;
                continue;
            }
        }
        out += tmpl[i];
    }
    return out;
}

std::string FormatDetail(std::string_view utf8Template, int a) {
    char buf[256];
    std::string t(utf8Template);
    std::snprintf(buf, sizeof buf, t.c_str(), a);
    return Utf8ToGbk(buf);
}

std::string FormatDetail(std::string_view utf8Template, int a, int b) {
    char buf[256];
    std::string t(utf8Template);
    std::snprintf(buf, sizeof buf, t.c_str(), a, b);
    return Utf8ToGbk(buf);
}

std::string CompileError::messageUtf8() const { return GbkToUtf8(message_); }

std::string CompileError::displayUtf8() const {
    std::string text = messageUtf8();
    if (position_ < 0) return text;
    return text + ",错误位置＝" + std::to_string(position_) + ",长度=" + std::to_string(length_);
}

}  // namespace tessaro
