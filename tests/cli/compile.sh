#!/bin/bash
# tessaro-cli compile: prints the compiled form and exits 0, or the error with its place and exits 1.
# usage: bash compile.sh /path/to/tessaro-cli
source "$(dirname "$0")/lib.bash"
subcommand=compile

# The six instructions of a hidden variable and an output line.
expect six-instructions 0 "instructions: 6" "0  5 0 CLOSE" "68 65536 STORE slot=0 hidden=1" \
    "67 65536 PUSHVAR slot=0 hidden=1" "65 2 PUSHNUM" "33 0 *" "68 1 STORE slot=1 hidden=0" \
    "outputs: 1" "0 Y style 1 width 0 colour none" -- 'X:=C;Y:X*2;'

# Modifiers: colour and width, later style wins.
expect modifiers 0 "0 A style 1 width 3 colour 0x0000FF" "1 B style 12 width 0 colour none" \
    -- 'A:C,COLORRED,LINETHICK3; B:C,STICK,POLE;'

# Parameters take the first slots.
expect parameters 0 "parameters: 2" "0 N default 5 min 1 max 100" "66 0 PUSHPARAM N" "23 0 MA" \
    "68 2 STORE slot=2 hidden=0" -- 'MA5:MA(C,N);' --param N=5,1,100 --param M=10

# Unnamed lines and the string pool.
expect unnamed 0 "0 第1条线" "1 第2条线" 'string pool: "买入\t"' "PUSHSTR '买入'" \
    -- "MA(C,5); DRAWTEXT(C>O,L,'买入');"

# A stock field reference needs no formula set.
expect stock-field 0 "references: 1" "stock 'SH600000'" "REFERENCE ref=0 period=3 args=0 kind=64" \
    -- 'A:"sh600000$close";'

# Trading systems: the signal names.
expect trading 0 "0 ENTERLONG style 100" -- 'ENTERLONG:CROSS(C,MA(C,5));' --type 1
expect trading-name 1 "错误28:交易系统的指标名称是固定,用户不能指定" -- 'BUY:C>O;' --type 1
expect selection-two 1 "错误27:" -- 'A:C>O;B:C<O;' --type 0

# Errors: message, position and length, and the marked text.
expect undefined 1 "错误16:表达式中引用了未定义的变量,错误位置＝5,长度=4" "A:C; [中文]+1;" -- 'A:C; 中文+1;'
expect unnamed-shift 1 "错误35:无效的操作数,错误位置＝6,长度=1" -- 'C;O;H+;'
expect empty 1 "错误30:公式文本内容为空，无法编译" -- '   '
expect stkindi-quote 1 "错误40:STKINDI语句中的参数中股票名称(第一个参数)缺少单引号" -- "A:STKINDI(SH600000,'MACD',1);"
# References resolve in the standard indicators, or in the formula set of --appdir.
expect reference 0 "references: 1" "formula 'MACD' line 'DIF'" "REFERENCE ref=0 period=9 args=3 kind=0" \
    -- 'A:"macd.dif#week"(12,26,9);'
expect no-such-formula 1 "错误20:引用的公式不存在,错误位置＝2,长度=10" -- 'A:"nosuch.x";'
mkdir "$work/empty"
expect empty-appdir 1 "错误20:引用的公式不存在" -- 'A:"macd.dif";' --appdir "$work/empty"

# Bad command lines.
expect bad-type 1 "--type" -- 'A:C;' --type 7
expect bad-type-text 1 "--type" -- 'A:C;' --type x
expect bad-param 1 "bad --param" -- 'A:C;' --param N=abc
"$cli" compile >/dev/null 2>&1
[ $? -eq 2 ] || fail "no formula: expected usage status 2"

# Hostile input never crashes: deep nesting and long garbage.
deep=$(printf 'A:%s C %s;' "$(printf '(%.0s' $(seq 1 5000))" "$(printf ')%.0s' $(seq 1 5000))")
expect deep 1 "错误51:" -- "$deep"
garbage=$(head -c 3000 /dev/zero | tr '\0' '@')
expect garbage 1 "错误34:" -- "$garbage"

finish compile
