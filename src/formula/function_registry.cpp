// The registry table and its case-insensitive name index.
//
// The table below is the single source of every entry: its name, arity, argument kinds and
// implementation. The 560-entry array, the name index, the dispatch of CallFunction and the
// DYNAREPORT / FINANCE help texts are derived from it once, during static initialisation,
// and never change afterwards.
#include "formula/function_registry.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <mutex>

#include "formula/functions_internal.h"
#include "platform/text.h"

namespace tessaro {
namespace {

// One row of the source table. `params` lists the parameter kinds separated by commas:
// S series, N constant number, SN either, T constant string. `impl` is the family function of
// functions_<family>.cpp that computes the entry (it tells its members apart by id); null for
// the compiler opcodes, the modifiers and STKINDI, which the compiler turns into a reference.
struct Row {
    int id;
    uint8_t kind;
    const char* name;
    const char* alias;
    const char* params;
    FunctionImpl impl;
    uint8_t category;  // functions: category; modifiers: class
    uint8_t result;    // functions: result kind
    uint32_t value;    // modifiers
    const char* description;
    const char* help;
};

constexpr uint8_t F = kEntryFunction;
constexpr uint8_t M = kEntryModifier;
constexpr uint8_t O = kEntryOperator;
constexpr uint8_t RS = kResultSeries;
constexpr uint8_t RN = kResultNumber;

// clang-format off
constexpr Row kRows[] = {
    // Quote data
    {2, F, "OPEN", "O", "", fn::QuoteFunction, kCategoryQuote, RS, 0, "开盘价", "OPEN 取得该周期的开盘价\r\n简写为O\r\n例如: O>REF(C,1) 表示高开"},
    {3, F, "HIGH", "H", "", fn::QuoteFunction, kCategoryQuote, RS, 0, "最高价", "HIGH 取得该周期的最高价\r\n简写为H"},
    {4, F, "LOW", "L", "", fn::QuoteFunction, kCategoryQuote, RS, 0, "最低价", "LOW 取得该周期的最低价\r\n简写为L"},
    {5, F, "CLOSE", "C", "", fn::QuoteFunction, kCategoryQuote, RS, 0, "收盘价", "CLOSE 取得该周期的收盘价\r\n简写为C\r\n例如: MA(C,5) 表示收盘价的5周期均线"},
    {6, F, "VOL", "V", "", fn::QuoteFunction, kCategoryQuote, RS, 0, "成交量", "VOL 取得该周期的成交量(手)\r\n简写为V"},
    {7, F, "AMOUNT", nullptr, "", fn::QuoteFunction, kCategoryQuote, RS, 0, "成交额", "AMOUNT 取得该周期的成交额(元)"},
    {8, F, "ADVANCE", nullptr, "", fn::QuoteFunction, kCategoryQuote, RS, 0, "上涨家数", "ADVANCE 取得该周期的上涨家数\r\n(本函数仅对大盘有效)"},
    {9, F, "DECLINE", nullptr, "", fn::QuoteFunction, kCategoryQuote, RS, 0, "下跌家数", "DECLINE 取得该周期的下跌家数\r\n(本函数仅对大盘有效)"},
    // Time
    {11, F, "DAY", nullptr, "", fn::TimeFunction, kCategoryTime, RS, 0, "日期", "DAY 取得该周期的日期(1-31)"},
    {12, F, "WEEKDAY", nullptr, "", fn::TimeFunction, kCategoryTime, RS, 0, "星期数", "WEEKDAY 取得该周期的星期数(0-6, 0表示星期日)"},
    {13, F, "MONTH", nullptr, "", fn::TimeFunction, kCategoryTime, RS, 0, "月份", "MONTH 取得该周期的月份(1-12)"},
    {14, F, "YEAR", nullptr, "", fn::TimeFunction, kCategoryTime, RS, 0, "年份", "YEAR 取得该周期的年份"},
    {15, F, "MINUTE", nullptr, "", fn::TimeFunction, kCategoryTime, RS, 0, "分钟", "MINUTE 取得该周期的分钟数(0-59)\r\n(本函数仅对分钟及分笔周期有效)"},
    {16, F, "HOUR", nullptr, "", fn::TimeFunction, kCategoryTime, RS, 0, "小时", "HOUR 取得该周期的小时数(0-23)\r\n(本函数仅对分钟及分笔周期有效)"},
    // Reference
    {18, F, "COUNT", nullptr, "S,SN", fn::ReferenceFunction, kCategoryReference, RS, 0, "统计总数", "COUNT(X,N) 统计N周期中满足X条件的周期数\r\n若N=0则从第一个有效值开始统计\r\n例如: COUNT(C>O,20) 表示统计20周期内收阳的周期数"},
    {19, F, "SUM", nullptr, "S,SN", fn::ReferenceFunction, kCategoryReference, RS, 0, "求和", "SUM(X,N) 统计N周期中X的总和\r\n若N=0则从第一个有效值开始累加\r\n例如: SUM(VOL,0) 表示统计从上市第一天以来的成交量总和"},
    {20, F, "REF", nullptr, "S,SN", fn::ReferenceFunction, kCategoryReference, RS, 0, "向前引用", "REF(X,N) 引用N周期前的X值\r\n例如: REF(CLOSE,1) 表示上一周期的收盘价"},
    {21, F, "HHV", nullptr, "S,SN", fn::ReferenceFunction, kCategoryReference, RS, 0, "最高值", "HHV(X,N) 求N周期内X的最高值\r\nN=0则从第一个有效值开始\r\n例如: HHV(HIGH,30) 表示求30周期的最高价"},
    {22, F, "LLV", nullptr, "S,SN", fn::ReferenceFunction, kCategoryReference, RS, 0, "最低值", "LLV(X,N) 求N周期内X的最低值\r\nN=0则从第一个有效值开始\r\n例如: LLV(LOW,0) 表示求历史最低价"},
    {23, F, "MA", nullptr, "S,N", fn::AverageFunction, kCategoryReference, RS, 0, "简单移动平均", "MA(X,N) 求X的N周期简单移动平均\r\n算法: (X1+X2+...+Xn)/N\r\n例如: MA(CLOSE,10) 表示求10周期均价"},
    {24, F, "EMA", nullptr, "S,N", fn::AverageFunction, kCategoryReference, RS, 0, "指数平滑移动平均", "EMA(X,N) 求X的N周期指数平滑移动平均\r\n算法: 若Y=EMA(X,N), 则Y=[2*X+(N-1)*Y']/(N+1), 其中Y'表示上一周期Y值\r\n例如: EMA(CLOSE,30) 表示求30周期指数平滑均价"},
    // Logic
    {26, F, "ISUP", nullptr, "", fn::BarFunction, kCategoryLogic, RS, 0, "上涨", "ISUP 当收盘>开盘时返回1, 否则返回0"},
    {27, F, "ISEQUAL", nullptr, "", fn::BarFunction, kCategoryLogic, RS, 0, "平盘", "ISEQUAL 当收盘=开盘时返回1, 否则返回0"},
    {28, F, "ISDOWN", nullptr, "", fn::BarFunction, kCategoryLogic, RS, 0, "下跌", "ISDOWN 当收盘<开盘时返回1, 否则返回0"},
    {29, F, "IF", nullptr, "SN,SN,SN", fn::LogicFunction, kCategoryLogic, RS, 0, "条件函数", "IF(X,A,B) 若X不为0则返回A, 否则返回B\r\n例如: IF(CLOSE>OPEN,HIGH,LOW) 表示该周期收阳则返回最高值, 否则返回最低值"},
    // Operators
    {31, O, "+", nullptr, "SN,SN", fn::BinaryOperator, 0, RS, 0, nullptr, nullptr},
    {32, O, "-", nullptr, "SN,SN", fn::BinaryOperator, 0, RS, 0, nullptr, nullptr},
    {33, O, "*", nullptr, "SN,SN", fn::BinaryOperator, 0, RS, 0, nullptr, nullptr},
    {34, O, "/", nullptr, "SN,SN", fn::BinaryOperator, 0, RS, 0, nullptr, nullptr},
    {35, F, "MOD", nullptr, "SN,SN", fn::BinaryOperator, kCategoryMath, RS, 0, "求模", "MOD(A,B) 返回A对B求模(两者先取整, 余数与A同号)\r\n例如: MOD(26,10) 返回6"},
    {36, F, "MAX", nullptr, "SN,SN", fn::BinaryOperator, kCategoryMath, RS, 0, "最大值", "MAX(A,B) 返回A和B中的较大值\r\n例如: MAX(CLOSE-OPEN,0) 表示若收盘价大于开盘价返回它们的差值, 否则返回0"},
    {37, F, "MIN", nullptr, "SN,SN", fn::BinaryOperator, kCategoryMath, RS, 0, "最小值", "MIN(A,B) 返回A和B中的较小值\r\n例如: MIN(CLOSE,OPEN) 返回开盘价和收盘价中的较小值"},
    {38, F, "CROSS", nullptr, "SN,SN", fn::ReferenceFunction, kCategoryReference, RS, 0, "交叉", "CROSS(A,B) 表示当A从下方向上穿过B时返回1, 否则返回0\r\n例如: CROSS(MA(CLOSE,5),MA(CLOSE,10)) 表示5日均线与10日均线交金叉"},
    {39, O, "=", nullptr, "SN,SN", fn::BinaryOperator, 0, RS, 0, nullptr, nullptr},
    {40, O, "<>", nullptr, "SN,SN", fn::BinaryOperator, 0, RS, 0, nullptr, nullptr},
    {41, O, ">", nullptr, "SN,SN", fn::BinaryOperator, 0, RS, 0, nullptr, nullptr},
    {42, O, ">=", nullptr, "SN,SN", fn::BinaryOperator, 0, RS, 0, nullptr, nullptr},
    {43, O, "<", nullptr, "SN,SN", fn::BinaryOperator, 0, RS, 0, nullptr, nullptr},
    {44, O, "<=", nullptr, "SN,SN", fn::BinaryOperator, 0, RS, 0, nullptr, nullptr},
    {45, O, "and", nullptr, "SN,SN", fn::BinaryOperator, 0, RS, 0, nullptr, nullptr},
    {46, O, "or", nullptr, "SN,SN", fn::BinaryOperator, 0, RS, 0, nullptr, nullptr},
    // Math
    {47, F, "REVERSE", nullptr, "SN", fn::MathFunction, kCategoryMath, RS, 0, "求相反数", "REVERSE(X) 返回-X\r\n例如: REVERSE(CLOSE) 返回-CLOSE"},
    {48, F, "ABS", nullptr, "SN", fn::MathFunction, kCategoryMath, RS, 0, "求绝对值", "ABS(X) 返回X的绝对值\r\n例如: ABS(-34) 返回34"},
    {49, F, "SGN", nullptr, "SN", fn::MathFunction, kCategoryMath, RS, 0, "求符号值", "SGN(X) 当X>0, X=0, X<0时分别返回1, 0, -1"},
    {50, F, "NOT", nullptr, "SN", fn::MathFunction, kCategoryMath, RS, 0, "逻辑非", "NOT(X) 当X=0时返回1, 否则返回0\r\n例如: NOT(ISUP) 表示平盘或收阴"},
    {52, F, "LOG", nullptr, "SN", fn::MathFunction, kCategoryMath, RS, 0, "10为底的对数", "LOG(X) 求X的常用对数(以10为底)\r\n例如: LOG(100) 等于2"},
    {53, F, "LN", nullptr, "SN", fn::MathFunction, kCategoryMath, RS, 0, "自然对数", "LN(X) 求X的自然对数\r\n例如: LN(CLOSE) 求收盘价的对数"},
    {54, F, "POW", nullptr, "SN,SN", fn::MathFunction, kCategoryMath, RS, 0, "乘幂", "POW(A,B) 返回A的B次幂\r\n例如: POW(CLOSE,3) 求得收盘价的3次方"},
    {55, F, "EXP", nullptr, "SN", fn::MathFunction, kCategoryMath, RS, 0, "指数", "EXP(X) 求e的X次幂\r\n例如: EXP(CLOSE) 返回e的CLOSE次幂"},
    {56, F, "SQRT", nullptr, "SN", fn::MathFunction, kCategoryMath, RS, 0, "开方", "SQRT(X) 求X的平方根\r\n例如: SQRT(CLOSE) 收盘价的平方根"},
    // Statistics
    {58, F, "STD", nullptr, "SN,N", fn::StatisticFunction, kCategoryStatistics, RS, 0, "估算标准差", "STD(X,N) 为X的N周期估算标准差\r\n例如: STD(CLOSE,20)"},
    {59, F, "STDP", nullptr, "S,N", fn::StatisticFunction, kCategoryStatistics, RS, 0, "总体标准差", "STDP(X,N) 为X的N周期总体标准差\r\n例如: STDP(CLOSE,20)"},
    {60, F, "VAR", nullptr, "S,N", fn::StatisticFunction, kCategoryStatistics, RS, 0, "估算样本方差", "VAR(X,N) 为X的N周期估算样本方差\r\n例如: VAR(CLOSE,20)"},
    {61, F, "VARP", nullptr, "S,N", fn::StatisticFunction, kCategoryStatistics, RS, 0, "总体样本方差", "VARP(X,N) 为X的N周期总体样本方差\r\n例如: VARP(CLOSE,20)"},
    {62, F, "AVEDEV", nullptr, "S,N", fn::StatisticFunction, kCategoryStatistics, RS, 0, "平均绝对偏差", "AVEDEV(X,N) 返回X在N周期内的平均绝对偏差\r\n例如: AVEDEV(CLOSE,20)"},
    {63, F, "DEVSQ", nullptr, "S,N", fn::StatisticFunction, kCategoryStatistics, RS, 0, "数据偏差平方和", "DEVSQ(X,N) 返回X在N周期内的数据偏差平方和\r\n例如: DEVSQ(CLOSE,20)"},
    // Compiler opcodes
    {65, O, nullptr, nullptr, "", nullptr, 0, 0, 0, nullptr, nullptr},
    {66, O, nullptr, nullptr, "", nullptr, 0, 0, 0, nullptr, nullptr},
    {67, O, nullptr, nullptr, "", nullptr, 0, 0, 0, nullptr, nullptr},
    {68, O, nullptr, nullptr, "SN", nullptr, 0, 0, 0, nullptr, nullptr},
    {70, O, nullptr, nullptr, "", nullptr, 0, 0, 0, nullptr, nullptr},
    {71, O, nullptr, nullptr, "", nullptr, 0, 0, 0, nullptr, nullptr},
    // Indicators
    {73, F, "SAR", nullptr, "N,N,N", fn::SarFunction, kCategoryIndicator, RS, 0, "抛物转向", "SAR(N,S,M) 抛物转向, N为计算周期, S为步长, M为极值\r\n例如: SAR(10,2,20) 表示计算10日抛物转向, 步长为2%, 极限值为20%"},
    {74, F, "SARTURN", nullptr, "N,N,N", fn::SarFunction, kCategoryIndicator, RS, 0, "抛物转向点", "SARTURN(N,S,M) 抛物转向点, 向上转向返回1, 向下转向返回-1, 否则返回0\r\n用法与SAR函数相同"},
    {75, F, "ZIG", nullptr, "N,N", fn::ZigFunction, kCategoryIndicator, RS, 0, "之字转向", "ZIG(K,N) 当价格变化量超过N%时转向, K表示0:开盘价, 1:最高价, 2:最低价, 3:收盘价\r\n例如: ZIG(3,5) 表示收盘价的5%的ZIG转向"},
    {80, F, "COST", nullptr, "N", fn::ChipFunction, kCategoryIndicator, RS, 0, "成本分布", "COST(X) 表示X%获利盘的价格是多少\r\n例如: COST(10) 表示10%获利盘的价格是多少, 即有10%的持仓量在该价格以下"},
    {81, F, "WINNER", nullptr, "SN", fn::ChipFunction, kCategoryIndicator, RS, 0, "获利盘比例", "WINNER(X) 表示以X价格卖出的获利盘比例\r\n例如: WINNER(CLOSE) 表示以当前收市价卖出的获利盘比例"},
    // Market index
    {201, F, "INDEXO", nullptr, "", fn::IndexFunction, kCategoryMarket, RS, 0, "对应大盘的开盘价", "INDEXO 取得对应大盘的开盘价"},
    {202, F, "INDEXH", nullptr, "", fn::IndexFunction, kCategoryMarket, RS, 0, "对应大盘的最高价", "INDEXH 取得对应大盘的最高价"},
    {203, F, "INDEXL", nullptr, "", fn::IndexFunction, kCategoryMarket, RS, 0, "对应大盘的最低价", "INDEXL 取得对应大盘的最低价"},
    {204, F, "INDEXC", nullptr, "", fn::IndexFunction, kCategoryMarket, RS, 0, "对应大盘的收盘价", "INDEXC 取得对应大盘的收盘价"},
    {205, F, "INDEXV", nullptr, "", fn::IndexFunction, kCategoryMarket, RS, 0, "对应大盘的成交量", "INDEXV 取得对应大盘的成交量"},
    {206, F, "INDEXA", nullptr, "", fn::IndexFunction, kCategoryMarket, RS, 0, "对应大盘的成交额", "INDEXA 取得对应大盘的成交额"},
    {207, F, "INDEXADV", nullptr, "", fn::IndexFunction, kCategoryMarket, RS, 0, "对应大盘的上涨家数", "INDEXADV 取得对应大盘的上涨家数"},
    {208, F, "INDEXDEC", nullptr, "", fn::IndexFunction, kCategoryMarket, RS, 0, "对应大盘的下跌家数", "INDEXDEC 取得对应大盘的下跌家数"},
    {211, F, "SMA", nullptr, "S,N,N", fn::AverageFunction, kCategoryReference, RS, 0, "移动平均", "SMA(X,N,M) 求X的N周期移动平均, M为权重\r\n算法: 若Y=SMA(X,N,M), 则Y=[M*X+(N-M)*Y']/N, 其中Y'表示上一周期Y值, N必须大于M\r\n例如: SMA(CLOSE,30,1) 表示求30周期移动平均价"},
    {212, F, "BARSSINCE", nullptr, "S", fn::ReferenceFunction, kCategoryIndicator, RS, 0, "第一个条件成立到当前周期数", "BARSSINCE(X) 求第一个X不为0到现在的周期数\r\n例如: BARSSINCE(HIGH>10) 表示股价超过10元时到当前的周期数"},
    {213, F, "BARSLAST", nullptr, "S", fn::ReferenceFunction, kCategoryIndicator, RS, 0, "上一个条件成立到当前周期数", "BARSLAST(X) 求上一次X不为0到现在的周期数\r\n例如: BARSLAST(CLOSE/REF(CLOSE,1)>=1.1) 表示上一个涨停板到当前的周期数"},
    {214, F, "HHVBARS", nullptr, "S,SN", fn::ReferenceFunction, kCategoryReference, RS, 0, "上一高点到当前的周期数", "HHVBARS(X,N) 求N周期内X最高值到当前周期数, N=0表示从第一个有效值开始统计\r\n例如: HHVBARS(HIGH,0) 求得历史新高到当前的周期数"},
    {215, F, "LLVBARS", nullptr, "S,SN", fn::ReferenceFunction, kCategoryReference, RS, 0, "上一低点到当前的周期数", "LLVBARS(X,N) 求N周期内X最低值到当前周期数, N=0表示从第一个有效值开始统计\r\n例如: LLVBARS(LOW,20) 求得20周期最低点到当前的周期数"},
    {216, F, "BARSCOUNT", nullptr, "S", fn::ReferenceFunction, kCategoryIndicator, RS, 0, "有效值周期数", "BARSCOUNT(X) 求总的周期数(从X的第一个有效值起)\r\n例如: BARSCOUNT(CLOSE) 求得上市以来的交易周期数"},
    {217, F, "DMA", nullptr, "SN,SN", fn::AverageFunction, kCategoryReference, RS, 0, "动态移动平均", "DMA(X,A) 求X的动态移动平均\r\n算法: 若Y=DMA(X,A), 则Y=A*X+(1-A)*Y', 其中Y'表示上一周期Y值, A必须小于1\r\n例如: DMA(CLOSE,VOL/CAPITAL) 表示求以换手率作平滑因子的平均价"},
    {218, F, "BACKSET", nullptr, "S,SN", fn::ReferenceFunction, kCategoryReference, RS, 0, "向前赋值", "BACKSET(X,N) 若X非0, 则将当前位置到N周期前的数值设为1\r\n例如: BACKSET(CLOSE>OPEN,2) 若收阳则将该周期及前一周期数值设为1, 否则为0"},
    {219, F, "SUMBARS", nullptr, "S,SN", fn::ReferenceFunction, kCategoryReference, RS, 0, "累加到指定值周期数", "SUMBARS(X,A) 将X向前累加直到大于等于A, 返回这个区间的周期数\r\n例如: SUMBARS(VOL,CAPITAL) 求完全换手到现在的周期数"},
    {220, F, "FILTER", nullptr, "S,N", fn::ReferenceFunction, kCategoryReference, RS, 0, "信号过滤", "FILTER(X,N) X满足条件后, 将其后N周期内的数据置为0\r\n例如: FILTER(CLOSE>OPEN,5) 查找阳线, 5天内再次出现的阳线不被记录在内"},
    {231, F, "SIN", nullptr, "SN", fn::MathFunction, kCategoryMath, RS, 0, "正弦值", "SIN(X) 求X的正弦值"},
    {232, F, "COS", nullptr, "SN", fn::MathFunction, kCategoryMath, RS, 0, "余弦值", "COS(X) 求X的余弦值"},
    {233, F, "TAN", nullptr, "SN", fn::MathFunction, kCategoryMath, RS, 0, "正切值", "TAN(X) 求X的正切值"},
    {234, F, "ASIN", nullptr, "SN", fn::MathFunction, kCategoryMath, RS, 0, "反正弦值", "ASIN(X) 求X的反正弦值"},
    {235, F, "ACOS", nullptr, "SN", fn::MathFunction, kCategoryMath, RS, 0, "反余弦值", "ACOS(X) 求X的反余弦值"},
    {236, F, "ATAN", nullptr, "SN", fn::MathFunction, kCategoryMath, RS, 0, "反正切值", "ATAN(X) 求X的反正切值"},
    {241, F, "BUYVOL", nullptr, "", fn::QuoteFunction, kCategoryQuote, RS, 0, "主动性买单量", "BUYVOL 取得该周期主动性买单的成交量\r\n(本函数对大盘无效)"},
    {242, F, "SELLVOL", nullptr, "", fn::QuoteFunction, kCategoryQuote, RS, 0, "主动性卖单量", "SELLVOL 取得该周期主动性卖单的成交量\r\n(本函数对大盘无效)"},
    // Constants
    {251, F, "VOLUNIT", nullptr, "", fn::ConstantFunction, kCategoryConstant, RN, 0, "每手股数", "VOLUNIT 取得每手股数\r\n指数为0, 债券为10, 其余为100"},
    {252, F, "DYNAREPORT", nullptr, "N", fn::ConstantFunction, kCategoryConstant, RN, 0, "动态行情", nullptr},  // help built below
    {253, F, "FINANCE", nullptr, "N", fn::ConstantFunction, kCategoryConstant, RN, 0, "财务数据", nullptr},     // help built below
    {254, F, "CAPITAL", nullptr, "", fn::ConstantFunction, kCategoryConstant, RN, 0, "流通盘", "CAPITAL 取得该股票的流通盘(手)\r\n指数为0"},
    {271, F, "FORCAST", nullptr, "S,N", fn::StatisticFunction, kCategoryStatistics, RS, 0, "线性回归预测值", "FORCAST(X,N) 为X的N周期线性回归预测值\r\n例如: FORCAST(CLOSE,10) 表示求10周期线性回归预测本周期收盘价"},
    {291, F, "DATE", nullptr, "", fn::TimeFunction, kCategoryTime, RS, 0, "年月日", "DATE 取得该周期从1900以来的年月日\r\n例如: 函数返回1050304表示2005年3月4日"},
    {292, F, "TIME", nullptr, "", fn::TimeFunction, kCategoryTime, RS, 0, "时分秒", "TIME 取得该周期的时分秒\r\n例如: 函数返回143000表示14点30分00秒"},
    {293, F, "ISLASTBAR", nullptr, "", fn::BarFunction, kCategoryLogic, RS, 0, "最后周期", "ISLASTBAR 判断是否为最后一个周期, 是则返回1, 否则返回0"},
    {311, F, "LONGCROSS", nullptr, "SN,SN,N", fn::ReferenceFunction, kCategoryReference, RS, 0, "维持交叉", "LONGCROSS(A,B,N) 表示A在N周期内都小于B, 本周期从下方向上穿过B时返回1, 否则返回0\r\n例如: LONGCROSS(MA(CLOSE,5),MA(CLOSE,10),5) 表示5日均线维持5周期后与10日均线交金叉"},
    {312, F, "BETWEEN", nullptr, "SN,SN,SN", fn::LogicFunction, kCategoryReference, RS, 0, "介于", "BETWEEN(A,B,C) 表示A处于B和C之间(含边界)时返回1, 否则返回0\r\n例如: BETWEEN(CLOSE,MA(CLOSE,10),MA(CLOSE,5)) 表示收盘价介于5日均线和10日均线之间"},
    {313, F, "RANGE", nullptr, "SN,SN,SN", fn::LogicFunction, kCategoryReference, RS, 0, "范围", "RANGE(A,B,C) 表示A大于B同时小于C时返回1, 否则返回0\r\n例如: RANGE(CLOSE,MA(CLOSE,5),MA(CLOSE,10)) 表示收盘价大于5日均线且小于10日均线"},
    {314, F, "CEILING", nullptr, "SN", fn::MathFunction, kCategoryMath, RS, 0, "向数值增大方向舍入", "CEILING(A) 返回沿A数值增大方向最接近的整数\r\n例如: CEILING(12.3) 求得13, CEILING(-3.5) 求得-3"},
    {315, F, "FLOOR", nullptr, "SN", fn::MathFunction, kCategoryMath, RS, 0, "向数值减少方向舍入", "FLOOR(A) 返回沿A数值减小方向最接近的整数\r\n例如: FLOOR(12.3) 求得12, FLOOR(-3.5) 求得-4"},
    // Drawing
    {331, F, "DRAWICON", nullptr, "SN,SN,N", fn::DrawingFunction, kCategoryDrawing, RS, 0, "画图标", "DRAWICON(COND,PRICE,TYPE) 当COND条件满足时, 在PRICE位置画TYPE号图标\r\n图标: 0小圆圈, 1方块, 2上三角, 3下三角, 4上箭头, 5下箭头, 6旗帜\r\n例如: DRAWICON(CLOSE>OPEN,LOW,1) 表示当收阳时在最低价位置画1号图标"},
    {332, F, "DRAWLINE", nullptr, "SN,SN,SN,SN,N", fn::DrawingFunction, kCategoryDrawing, RS, 0, "画线", "DRAWLINE(COND1,PRICE1,COND2,PRICE2,EXPAND) 当COND1条件满足时, 在PRICE1位置画直线起点, 当COND2条件满足时, 在PRICE2位置画直线终点, EXPAND为延长类型\r\n例如: DRAWLINE(HIGH>=HHV(HIGH,20),HIGH,LOW<=LLV(LOW,20),LOW,1) 表示在创20周期新高与创20周期新低之间画直线并且向右延长"},
    {333, F, "POLYLINE", nullptr, "SN,SN", fn::DrawingFunction, kCategoryDrawing, RS, 0, "画折线", "POLYLINE(COND,PRICE) 当COND条件满足时, 以PRICE位置为顶点画折线连接\r\n例如: POLYLINE(HIGH>=HHV(HIGH,20),HIGH) 表示在创20周期新高的点之间画折线"},
    {334, F, "STICKLINE", nullptr, "SN,SN,SN,SN,SN", fn::DrawingFunction, kCategoryDrawing, RS, 0, "画柱线", "STICKLINE(COND,PRICE1,PRICE2,WIDTH,ATTR) 当COND条件满足时, 在PRICE1和PRICE2位置之间画柱状线, 宽度为WIDTH(10为标准间距), ATTR个位不为0则画空心柱, ATTR减去个位为柱线的横向偏移(千分之一间距)\r\n例如: STICKLINE(CLOSE>OPEN,CLOSE,OPEN,8,1) 表示画K线中阳线的空心柱体部分"},
    {335, F, "DRAWTEXT", nullptr, "SN,SN,T", fn::DrawingFunction, kCategoryDrawing, RS, 0, "画文本", "DRAWTEXT(COND,PRICE,TEXT) 当COND条件满足时, 在PRICE位置书写文字TEXT\r\n例如: DRAWTEXT(CLOSE/OPEN>1.08,LOW,'大阳线') 表示当日涨幅大于8%时在最低价位置显示'大阳线'字样"},
    {351, F, "STKINDI", nullptr, "T,T", nullptr, kCategoryReference, RS, 0, "引用股票公式", "STKINDI('STOCK','FORMULA.LINE#PERIOD',P1,...) 引用指定股票的指标公式的输出线\r\n例如: STKINDI('SH600000','MACD.DIF#DAY') 表示引用浦发银行日线MACD指标的DIF线"},
    {352, F, "RGB", nullptr, "N,N,N", fn::ConstantFunction, kCategoryConstant, RN, 0, "颜色函数", "RGB(R,G,B) 返回由红、绿、蓝三种分量(0-255)合成的颜色值\r\n例如: RGB(255,0,0) 表示红色"},
    {353, F, "PARTLINE", nullptr, "SN,SN,SN,SN", fn::DrawingFunction, kCategoryDrawing, RS, 0, "条件画线", "PARTLINE(COND,PRICE,COLOR1,COLOR2) 以PRICE画线, COND条件满足的周期用COLOR1颜色, 否则用COLOR2颜色\r\n例如: PARTLINE(CLOSE>OPEN,CLOSE,RGB(255,0,0),RGB(0,255,0)) 表示收盘价线阳线处为红色, 其余为绿色"},
    {354, F, "DRAWICONEX", nullptr, "SN,SN,N,N", fn::DrawingFunction, kCategoryDrawing, RS, 0, "画图标", "DRAWICONEX(COND,PRICE,TYPE,FILL) 当COND条件满足时, 在PRICE位置画TYPE号图标, FILL不为0则填充"},
    {355, F, "PERSISTGREAT", nullptr, "SN,SN,N", fn::ReferenceFunction, kCategoryReference, RS, 0, "持续大于", "PERSISTGREAT(A,B,N) 表示A持续N周期大于B时返回1, 否则返回0\r\n例如: PERSISTGREAT(CLOSE,MA(CLOSE,5),3) 表示收盘价连续3周期在5日均线之上"},
    {356, F, "PERSISTLESS", nullptr, "SN,SN,N", fn::ReferenceFunction, kCategoryReference, RS, 0, "持续小于", "PERSISTLESS(A,B,N) 表示A持续N周期小于B时返回1, 否则返回0"},
    {357, F, "PERSISTASCENT", nullptr, "SN,N", fn::ReferenceFunction, kCategoryReference, RS, 0, "持续上扬", "PERSISTASCENT(X,N) 表示X连续N周期上涨时返回1, 否则返回0\r\n例如: PERSISTASCENT(CLOSE,3) 表示收盘价连续3周期上涨"},
    {358, F, "PERSISTDESCENT", nullptr, "SN,N", fn::ReferenceFunction, kCategoryReference, RS, 0, "持续下挫", "PERSISTDESCENT(X,N) 表示X连续N周期下跌时返回1, 否则返回0"},
    {359, F, "PERSISTTURNUP", nullptr, "SN,N", fn::ReferenceFunction, kCategoryReference, RS, 0, "持续下挫后拐头向上", "PERSISTTURNUP(X,N) 表示X连续下跌至少N周期后本周期上涨时返回1, 否则返回0"},
    {360, F, "PERSISTTURNDOWN", nullptr, "SN,N", fn::ReferenceFunction, kCategoryReference, RS, 0, "持续上扬后拐头向下", "PERSISTTURNDOWN(X,N) 表示X连续上涨至少N周期后本周期下跌时返回1, 否则返回0"},
    {361, F, "BARPOS", nullptr, "", fn::BarFunction, kCategoryIndicator, RS, 0, "数据位置", "BARPOS 取得该周期在数据中的位置, 第一个周期为0"},
    {362, F, "BARSTATUS", nullptr, "", fn::BarFunction, kCategoryIndicator, RS, 0, "数据位置状态", "BARSTATUS 第一个周期返回1, 最后一个周期返回2, 否则返回0"},
    {363, F, "STKTYPE", nullptr, "", fn::ConstantFunction, kCategoryConstant, RN, 0, "股票类型", "STKTYPE 取得股票类型: 1指数, 2A股, 3B股, 4基金, 5债券, 6权证"},
    {364, F, "TICKCOUNT", nullptr, "", fn::QuoteFunction, kCategoryQuote, RS, 0, "笔均量", "TICKCOUNT 取得该周期的成交笔数\r\n(本函数对大盘无效)"},
    {365, F, "FLOATARC", nullptr, "SN,SN,N,N,N", fn::DrawingFunction, kCategoryDrawing, RS, 0, "浮动圆圈", "FLOATARC(COND,PRICE,X,Y,R) 当COND条件满足时, 在图形的X,Y位置画半径为R的圆圈"},
    {366, F, "DRAWTEXTABS", nullptr, "SN,SN,T", fn::DrawingFunction, kCategoryDrawing, RS, 0, "在图形绝对位置上显示文字。", "DRAWTEXTABS(X,Y,TEXT) 在图形的绝对位置(X,Y像素)上显示文字TEXT\r\n例如: DRAWTEXTABS(10,20,'注意') 在距左上角(10,20)处显示'注意'"},
    {367, F, "DRAWTEXTREL", nullptr, "SN,SN,T", fn::DrawingFunction, kCategoryDrawing, RS, 0, "在图形相对位置上显示文字。", "DRAWTEXTREL(X,Y,TEXT) 在图形的相对位置(X,Y为千分比)上显示文字TEXT\r\n例如: DRAWTEXTREL(500,500,'中央') 在图形中央显示'中央'"},
    // Line modifiers
    {512, M, "STICK", nullptr, "", nullptr, kModifierStyle, 0, 2, "柱线", "STICK 画柱状线"},
    {513, M, "COLORSTICK", nullptr, "", nullptr, kModifierStyle, 0, 3, "彩色竖线", "COLORSTICK 画彩色竖线, 大于0为红色, 小于0为绿色"},
    {514, M, "VOLSTICK", nullptr, "", nullptr, kModifierStyle, 0, 4, "成交量柱", "VOLSTICK 画成交量柱, 阳线为红色空心柱, 阴线为绿色实心柱"},
    {515, M, "LINESTICK", nullptr, "", nullptr, kModifierStyle, 0, 5, "顶点相连竖线", "LINESTICK 同时画出柱状线和指标线"},
    {516, M, "CROSSDOT", nullptr, "", nullptr, kModifierStyle, 0, 6, "小叉线", "CROSSDOT 画小叉线"},
    {517, M, "CIRCLEDOT", nullptr, "", nullptr, kModifierStyle, 0, 7, "圆圈线", "CIRCLEDOT 画小圆圈线"},
    {518, M, "POINTDOT", nullptr, "", nullptr, kModifierStyle, 0, 8, "圆点线", "POINTDOT 画小圆点线"},
    {519, M, "DASH", nullptr, "", nullptr, kModifierStyle, 0, 9, "虚线", "DASH 画虚线"},
    {520, M, "NULLLINE", nullptr, "", nullptr, kModifierStyle, 0, 10, "无任何线", "NULLLINE 不画线, 只显示数值"},
    {521, M, "SOLIDPOLE", nullptr, "", nullptr, kModifierStyle, 0, 11, "实心柱", "SOLIDPOLE 画实心柱"},
    {522, M, "POLE", nullptr, "", nullptr, kModifierStyle, 0, 12, "空心柱", "POLE 画空心柱"},
    {523, M, "COLORRED", nullptr, "", nullptr, kModifierColour, 0, 0x0000FF, "红色", nullptr},
    {524, M, "COLORGRAY", nullptr, "", nullptr, kModifierColour, 0, 0x848284, "灰色", nullptr},
    {525, M, "COLORGREEN", nullptr, "", nullptr, kModifierColour, 0, 0x00FF00, "绿色", nullptr},
    {526, M, "COLORBLUE", nullptr, "", nullptr, kModifierColour, 0, 0xFF0000, "兰色", nullptr},
    {527, M, "COLORYELLOW", nullptr, "", nullptr, kModifierColour, 0, 0x00FFFF, "黄色", nullptr},
    {528, M, "COLORWHITE", nullptr, "", nullptr, kModifierColour, 0, 0xFFFFFF, "白色", nullptr},
    {529, M, "COLORBLACK", nullptr, "", nullptr, kModifierColour, 0, 0x000000, "黑色", nullptr},
    {530, M, "COLORCYAN", nullptr, "", nullptr, kModifierColour, 0, 0xFFFF00, "青色", nullptr},
    {531, M, "COLORMAGENTA", nullptr, "", nullptr, kModifierColour, 0, 0xFF00FF, "品红色", nullptr},
    {532, M, "COLORBROWN", nullptr, "", nullptr, kModifierColour, 0, 0x2A2AA5, "棕色", nullptr},
    {533, M, "COLORORANGE", nullptr, "", nullptr, kModifierColour, 0, 0x00A5FC, "橙色", nullptr},
    {534, M, "COLORGOLD", nullptr, "", nullptr, kModifierColour, 0, 0x00D7FF, "金色", nullptr},
    {535, M, "COLORffffff", nullptr, "", nullptr, kModifierColour, 0, 0xFFFFFF, "任意色",
        "COLOR后面加上6为十六进制数字即可表示一种颜色的RGB值\r\n例如: color0000ff表示红色"},
    {536, M, "LINETHICK0", nullptr, "", nullptr, kModifierWidth, 0, 0, "线宽0", nullptr},
    {537, M, "LINETHICK1", nullptr, "", nullptr, kModifierWidth, 0, 1, "线宽1", nullptr},
    {538, M, "LINETHICK2", nullptr, "", nullptr, kModifierWidth, 0, 2, "线宽2", nullptr},
    {539, M, "LINETHICK3", nullptr, "", nullptr, kModifierWidth, 0, 3, "线宽3", nullptr},
    {540, M, "LINETHICK4", nullptr, "", nullptr, kModifierWidth, 0, 4, "线宽4", nullptr},
    {541, M, "LINETHICK5", nullptr, "", nullptr, kModifierWidth, 0, 5, "线宽5", nullptr},
    {542, M, "LINETHICK6", nullptr, "", nullptr, kModifierWidth, 0, 6, "线宽6", nullptr},
    {543, M, "LINETHICK7", nullptr, "", nullptr, kModifierWidth, 0, 7, "线宽7", nullptr},
    {544, M, "LINETHICK8", nullptr, "", nullptr, kModifierWidth, 0, 8, "线宽8", nullptr},
    {545, M, "LINETHICK9", nullptr, "", nullptr, kModifierWidth, 0, 9, "线宽9", nullptr},
};
// clang-format on

// Each id names one entry: a second row with the same id would silently replace the first.
constexpr bool RowIdsAreUniqueAndInRange() {
    for (size_t i = 0; i < std::size(kRows); ++i) {
        if (kRows[i].id < 0 || kRows[i].id >= kFunctionTableSize) return false;
        for (size_t j = 0; j < i; ++j)
            if (kRows[j].id == kRows[i].id) return false;
    }
    return true;
}
static_assert(RowIdsAreUniqueAndInRange(), "two registry rows share an id, or an id is outside the table");

// The quote items DYNAREPORT reads (catalogue items 0..40) and the finance items FINANCE
// reads (catalogue items 41..79), in catalogue order; the help texts list them.
const char* const kDynaReportItems[] = {
    "昨收", "今开", "最高", "最低", "最新", "涨幅", "总手", "现手", "总额", "均价", "涨跌", "振幅",
    "换手率", "委比", "委差", "5日均量", "量比", "涨速", "内盘", "外盘",
    "买一价", "买二价", "买三价", "买四价", "买五价", "买一量", "买二量", "买三量", "买四量", "买五量",
    "卖一价", "卖二价", "卖三价", "卖四价", "卖五价", "卖一量", "卖二量", "卖三量", "卖四量", "卖五量",
    "市盈率"};
const char* const kFinanceItems[] = {
    "更新日期", "总股本(万股)", "国家股(万股)", "发起法人股(万股)", "法人股(万股)", "B股(万股)",
    "H股(万股)", "流通A股(万股)", "职工股(万股)", "A2转配股(万股)", "总资产(千元)", "流动资产",
    "固定资产", "无形资产", "长期投资", "流动负债", "长期负债", "资本公积金", "每股公积金", "股东权益",
    "主营收入", "主营利润", "其他利润", "营业利润", "投资收益", "补贴收入", "营业外收支", "上年损益调整",
    "利润总额", "税后利润", "净利润", "未分配利润", "每股未分配", "每股收益", "每股净资产",
    "调整每股净资", "股东权益比", "净资收益率", "年/中/季报"};
static_assert(std::size(kDynaReportItems) == 41);
static_assert(std::size(kFinanceItems) == 39);

uint8_t ParamMask(std::string_view token) {
    uint8_t mask = 0;
    for (char ch : token) {
        if (ch == 'S') mask |= kParamSeries;
        else if (ch == 'N') mask |= kParamNumber;
        else if (ch == 'T') mask |= kParamString;
    }
    return mask;
}

struct Registry {
    std::array<FunctionInfo, kFunctionTableSize> entries{};
    std::array<bool, kFunctionTableSize> filled{};
    std::vector<std::pair<const char*, int>> index;  // every name and alias, sorted case-insensitively
    std::string dynaReportHelp;
    std::string financeHelp;

    Registry() {
        dynaReportHelp = "DYNAREPORT(X)\r\n取得动态行情,X取值如下与返回值如下\r\n";
        char line[128];
        for (size_t i = 0; i < std::size(kDynaReportItems); ++i) {
            std::snprintf(line, sizeof line, "X=%d,%s,\r\n", static_cast<int>(i), kDynaReportItems[i]);
            dynaReportHelp += line;
        }
        financeHelp = "FINANCE(X)\r\n取得取得,X取值如下与返回值如下\r\n";
        for (size_t i = 0; i < std::size(kFinanceItems); ++i) {
            std::snprintf(line, sizeof line, "X=% 2d,%s\r\n", static_cast<int>(i), kFinanceItems[i]);
            financeHelp += line;
        }

        for (const Row& row : kRows) {
            FunctionInfo& e = entries[row.id];
            e.id = row.id;
            e.kind = row.kind;
            e.name = row.name;
            e.alias = row.alias;
            std::string_view params = row.params;
            int count = 0;
            while (!params.empty() && count < kMaxFunctionParams) {
                size_t comma = params.find(',');
                e.paramKinds[count++] = ParamMask(params.substr(0, comma));
                params = comma == std::string_view::npos ? std::string_view() : params.substr(comma + 1);
            }
            e.paramCount = count;
            e.impl = row.impl;
            e.category = row.category;
            e.resultKind = row.result;
            e.value = row.value;
            e.description = row.description;
            e.help = row.help;
            if (row.id == kFnDynaReport) e.help = dynaReportHelp.c_str();
            if (row.id == kFnFinance) e.help = financeHelp.c_str();
            filled[row.id] = true;
            if (e.name) index.emplace_back(e.name, row.id);
            if (e.alias) index.emplace_back(e.alias, row.id);
        }
        std::stable_sort(index.begin(), index.end(), [](const auto& a, const auto& b) {
            return CompareNoCase(a.first, b.first) < 0;
        });
    }

    // Index of the first entry of `kind` named `name`, or -1. Operators share no names with
    // functions, but the search still walks every equal name so that kinds never shadow each other.
    int find(std::string_view name, uint8_t kind) const {
        auto it = std::lower_bound(index.begin(), index.end(), name, [](const auto& item, std::string_view key) {
            return CompareNoCase(item.first, key) < 0;
        });
        for (; it != index.end() && CompareNoCase(it->first, name) == 0; ++it)
            if (entries[it->second].kind == kind) return it->second;
        return -1;
    }
};

const Registry& TheRegistry() {
    static const Registry registry;
    return registry;
}

// Builds the table before main so that no thread ever races on its construction.
[[maybe_unused]] const Registry& kBuiltAtStartUp = TheRegistry();

}  // namespace

const FunctionInfo* FunctionById(int id) {
    if (id < 0 || id >= kFunctionTableSize) return nullptr;
    const Registry& r = TheRegistry();
    return r.filled[id] ? &r.entries[id] : nullptr;
}

int FindFunction(std::string_view name) { return TheRegistry().find(name, kEntryFunction); }

int FindModifier(std::string_view name) { return TheRegistry().find(name, kEntryModifier); }

int64_t ParseColourLiteral(std::string_view text) {
    if (text.size() != 11 || !StartsWithNoCase(text, "color")) return -1;
    int64_t value = 0;
    for (char ch : text.substr(5)) {
        int digit;
        if (ch >= '0' && ch <= '9') digit = ch - '0';
        else if (ch >= 'a' && ch <= 'f') digit = ch - 'a' + 10;
        else if (ch >= 'A' && ch <= 'F') digit = ch - 'A' + 10;
        else return -1;
        value = value * 16 + digit;
    }
    return value;
}

std::vector<const FunctionInfo*> AllFunctionEntries() {
    std::vector<const FunctionInfo*> out;
    for (int id = 0; id < kFunctionTableSize; ++id)
        if (const FunctionInfo* e = FunctionById(id)) out.push_back(e);
    return out;
}

std::string_view CategoryName(int category) {
    static constexpr std::string_view kNames[] = {"行情函数", "时间函数", "引用函数", "逻辑函数", "数学函数",
                                                  "统计函数", "指标函数", "大盘函数", "常数函数", "画图函数"};
    return category >= 1 && category <= 10 ? kNames[category - 1] : std::string_view();
}

std::string_view ModifierClassName(int modifierClass) {
    switch (modifierClass) {
        case kModifierStyle: return "线型修饰";
        case kModifierWidth: return "线宽修饰";
        case kModifierColour: return "颜色修饰";
        default: return {};
    }
}

std::string ParamKindText(uint8_t mask) {
    std::string out;
    if (mask & kParamSeries) out += "[普通序列]";
    if (mask & kParamNumber) out += "[常数数值]";
    if (mask & kParamString) out += "[常数字串]";
    return out;
}

std::string FunctionUsage(const FunctionInfo& info) {
    std::string out = info.name ? info.name : "";
    if (info.paramCount == 0) return out;
    static constexpr const char* kLetters[] = {"X", "A", "B", "C", "D"};
    out += '(';
    for (int i = 0; i < info.paramCount && i < kMaxFunctionParams; ++i) {
        if (i) out += ',';
        out += info.paramKinds[i] == kParamNumber ? (i == 0 ? "N" : i == 1 ? "N" : "M") : kLetters[i];
    }
    out += ')';
    return out;
}

std::string_view FinanceItemName(uint32_t item) {
    return item < std::size(kFinanceItems) ? kFinanceItems[item] : "";
}

}  // namespace tessaro
