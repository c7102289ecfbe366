// vendrak-check: one table of scripts and the findings each gives, each
// script also checked as the checker's fuzzer checks it (the error the
// compiler stops at must be among the checker's); then the formats, the
// command line, and the manual's list of warnings. (The examples must check
// clean: tests/dist/package.sh checks them with the packaged checker.)
#include <algorithm>
#include <iterator>
#include <regex>
#include <sstream>
#include <set>

#include "files.h"

#include "check/check.h"
#include "check/cli.h"
#include "check/format.h"
#include "common/fatal.h"
#include "compile/compile.h"
#include "parser/parser.h"
#include "validate/validate.h"

#include "../fuzz/check_target.h"

namespace {

using namespace vendrak::check;
using namespace vendrak_test;
using namespace std::string_literals;
using namespace std::string_view_literals;

const fs::path source_root = VENDRAK_SOURCE_ROOT;


// "line:column: severity: text [-Wname]", the gnu line without its file.
std::string shown(const finding& f) {
    std::string s = std::to_string(f.line) + ":" + std::to_string(f.column) + ": " +
                    (f.level == severity::error ? "error: " : "warning: ") + f.message;
    return f.level == severity::warning ? s + " [-W" + std::string(name_of(f.name)) + "]" : s;
}

struct row {
    std::string_view script;
    std::vector<std::string> findings;
    const char* file = "s.vsc";  // in the run directory
};

const row rows[] = {
    {"FW_VERSION 1.08\nFW_VERSION 2.5\nFW_VERSION 1.07\nFW_VERSION 2.8\nFW_VERSION 3\nFW_VERSION 1.123",
     {"1:12: warning: FW_VERSION 1.08 checks version 1.00; the digits after the point are read as an octal number: "
      "write 1.8 for version 1.08 [-Wfw-version]",
      "2:12: warning: FW_VERSION 2.5 checks version 2.05; write 2.05 or 2.50 to say which [-Wfw-version]",
      "6:12: warning: FW_VERSION 1.123 checks version 2.23; the minor number has two digits [-Wfw-version]"}},
    {"DELAY 1.5\nSET_VALUE VOLTS 13.5\nDELAY 2s\nVAR[1] = 5-1\nHLCD 2 1 VBAT 0.0 16.5V\nDEFINE T 2.5\nDELAY T",
     {"1:7: warning: \"1.5\" is read as 1: a whole number is expected here, and the fraction is dropped [-Wfraction]",
      "2:17: warning: \"13.5\" is read as 13: a whole number is expected here, and the fraction is dropped [-Wfraction]",
      "3:7: warning: \"2s\" is read as 2; \"s\" is ignored [-Wtrailing]",
      "4:10: warning: \"5-1\" is read as 5; \"-1\" is ignored [-Wtrailing]",
      "5:19: warning: \"16.5V\" is read as 16.5; \"V\" is ignored [-Wtrailing]",
      "7:7: warning: \"2.5\" is read as 2: a whole number is expected here, and the fraction is dropped [-Wfraction]"}},
    {"WRITE SID 0x10 010 007\n10:\nWRITE SID 09 -010\n1st:",
     {"1:16: warning: \"010\" is octal, the number 8: a leading 0 makes a number octal [-Woctal]",
      "2:1: warning: \"10:\" is read as the number 10 of the list before it, not as a label; begin labels with a "
      "letter [-Wtrailing]",
      "3:11: warning: \"09\" is read as 0: a leading 0 makes it octal, and 9 is no octal digit [-Woctal]",
      "3:14: warning: \"-010\" is octal, the number -8: a leading 0 makes a number octal [-Woctal]",
      "3:14: warning: -010 is negative, but this field holds 0 to 255: the device gets 248 (0xF8) [-Woverflow]",
      "4:1: warning: \"1st:\" is read as the number 1 of the list before it, not as a label; begin labels with a "
      "letter [-Wtrailing]"}},
    {"WRITE MSG 0x7E0 300 -1\nPERIODIC SID 70000 1\nDIAG ISO14229 0xFFFFFFFF 0x7E8\nSECURITY 256 0x01\n"
     "IF HEX[0,2] = {1 0x100}\nENDIF",
     {"1:17: warning: 300 does not fit in 8 bits: the device gets 44 (0x2C) [-Woverflow]",
      "1:21: warning: -1 is negative, but this field holds 0 to 255: the device gets 255 (0xFF) [-Woverflow]",
      "2:14: warning: 70000 does not fit in 16 bits: the device gets 4464 (0x1170) [-Woverflow]",
      "3:15: warning: \"0xFFFFFFFF\" is beyond the signed 32-bit numbers and is read as 2147483647 [-Woverflow]",
      "4:10: warning: 256 does not fit in 8 bits: the device gets 0 (0x00) [-Woverflow]",
      "5:18: warning: 0x100 does not fit in 8 bits: the device gets 0 (0x00) [-Woverflow]"}},
    {"LCD 1 3 \"ABCDEFGHIJKLMNO\"\nLCD 8 1 \"ABCDEFGHIJKLMNOP\"\nHUD 7 1 TEXT[0,40]\nLCD 2 1 \"\xC3\xA9t\xC3\xA9\"",
     {"1:9: warning: this text of 15 characters runs on from row 1 into row 2: 14 cells are left in row 1 "
      "[-Wrow-overflow]",
      "3:9: warning: TEXT[] of 40 characters runs on from row 7 into row 8: 32 cells are left in row 7 [-Wrow-overflow]",
      "4:9: warning: this text holds characters of several bytes (UTF-8): each byte takes a cell of the screen "
      "[-Wencoding]"}},
    {"IF KEY = ENTER\n LED RED ON\nELSE\n LED GREEN ON\nELSE\n LED RED OFF\nENDIF\n"
     "DO\n IF KEY = ESCAPE\n  ENDDO\n ENDIF\n DO\n  GETKEY\n WHILE KEY ! ENTER\nWHILE KEY ! ESCAPE",
     {"1:4: warning: KEY is read here before any GETKEY has read a key, on every path to it [-Wunset]",
      "5:1: warning: second ELSE of the IF on line 1: when the condition is true, the part after this ELSE runs too "
      "[-Wsecond-else]",
      "10:3: warning: this ENDDO leaves the loop of the WHILE on line 14, not its own loop (the DO on line 8) "
      "[-Wloop-pairing]"}},
    {"top:\ntop:\nspare:\nGOSUB sub\nGOTO top\nLED RED ON\nsub: RETURN",
     {"2:1: warning: label top is defined on line 1 already: every jump goes there [-Wduplicate-label]",
      "3:1: warning: no GOTO or GOSUB names label spare [-Wunused-label]",
      "6:1: warning: no path of the program reaches this statement [-Wunreachable]"}},
    {"DEFINE DELAY 7\nDEFINE on 1\nDEFINE SPEED 500000\nNET CAN_HS 11 SPEED",
     {"1:8: warning: DELAY is a word of the language: from here on, every DELAY written so stands for this "
      "definition [-Wdefine-keyword]",
      "2:8: warning: on is a word of the language: from here on, every on written so stands for this definition "
      "[-Wdefine-keyword]"}},
    {"\xEF\xBB\xBF" "DELAY 5\n",
     {"1:1: error: Unknown command: \\xEF",
      "1:1: warning: the file begins with a UTF-8 byte-order mark, which vendrak reads as a word: save it without "
      "one [-Wencoding]"}},
    {"\xFF\xFE" "D\0E\0L\0A\0Y\0 \0" "5\0"sv,
     {"1:1: error: Unknown command: \\xFF",
      "1:1: warning: the file is UTF-16 text, but vendrak reads bytes: save it as ASCII or UTF-8 [-Wencoding]"}},
    {"DELAY 5\n\0LED RED ON\n"sv,
     {"2:1: warning: a NUL byte ends the script here: the 11 bytes after it are not read [-Wencoding]"}},
    {"PROG \"app.vbf.bak\"\nPROGNR \"sbl.bin\"\nPROGNC \"cal.vbf\"",
     {"1:6: warning: \"app.vbf.bak\" does not end in .vbf: PROG only looks for .vbf or .VBF anywhere in the name "
      "[-Wflash-name]",
      "2:8: warning: \"sbl.bin\" does not end in .vbf: PROGNR takes any file name, and converts it as a VBF file "
      "[-Wflash-name]"}},
    {"PROG \"app.vbf\"\nPROG \"boot.vbf\"\nPROGNC \"cal.vbf\"",
     {"2:6: error: Cannot open \"boot.vbf\" file",
      "2:6: warning: vendrak looks for \"boot.vbf\" in the directory it runs in, where there is none, not beside the "
      "script ($RUN/job/boot.vbf) [-Wvbf-path]",
      "3:8: warning: vendrak takes \"cal.vbf\" from the directory it runs in, not the file beside the script "
      "($RUN/job/cal.vbf) [-Wvbf-path]"},
     "job/s.vsc"},
    {"PROG \"bad.vbf\"\nPROG \"packed.vbf\"\nPROG \"reference.vbf\"\nPROG \"bad.vbf\"",
     {"1:6: warning: section at 0x00008000 (9 bytes) of \"bad.vbf\": its block checksum is 0x1234, the CRC-16 of its "
      "data is 0x29B1 [-Wblock-checksum]"}},
    {"PROG \"broken.vbf\"",
     {"1:6: error: Calculated checksum (233D7627) does not match file_checksum (00000000)"}},
    // Parse errors: the word the parser stopped at, or the last word of a
    // statement that ran out of words at the end of its line.
    {"DELAY\nLCD 1 1 \"x\"", {"1:1: error: expected a number, but found: LCD"}},
    {"DELAY 5\n  foo 1", {"2:3: error: Unknown command: foo"}},
    {"LED RED ON\nDEFINE X\nDELAY 1", {"2:8: error: expected a definition, but found nothing."}},
    // Every statement's error, then the block and label errors.
    {"DELAY 0\nLCD 9 1 \"x\"\nNET CAN_HS 12 500000\nGOTO nowhere\nGOSUB elsewhere\nELSE\nIF VBAT < 11",
     {"1:7: error: DELAY out of range", "2:5: error: LCD row out of range",
      "3:12: error: NET CAN ID Bits value must be 11 or 29.", "4:6: error: Invalid label 'nowhere'",
      "5:7: error: Invalid label 'elsewhere'", "6:1: error: ELSE with no IF", "7:1: error: Unterminated IF",
      "7:1: note: this IF is never closed: add its ENDIF"}},
    {"IF DATA[0,2] = DATA[300,1]\nENDIF\nIF HEX[0,3] < {1,2,3}\nENDIF\nVAR[1] = VAR[2] = 3\nVAR[20] = 1\n"
     "VAR[1] = 2 + \"x\"\nLCD 1 20 VBAT",
     {"1:16: error: Invalid DATA offset", "3:13: error: Invalid HEX comparison operation",
      "5:10: warning: VAR[2] is read here before any statement sets it, on every path to it [-Wunset]",
      "5:17: error: Invalid arithmetic expression", "6:5: error: Assignment VAR index out of bounds",
      "7:14: error: Invalid arithmetic expression", "8:7: error: LCD column out of range"}},

    // The findings that need the whole text or the whole program, and the
    // notes on errors.
    // Text as written.
    {"LED GREEN ON\n/* off\nLED RED ON\n", {"2:1: warning: this /* comment is never closed: it runs to the end of the "
                                            "file, and the 1 line after it is not read [-Wunclosed-comment]"}},
    {"DELAY 1 /* x */ DELAY 2 /*/ DELAY 3", {}},
    {"DELAY 100 ; settle\rLED RED ON\r",
     {"1:11: warning: this ; comment runs on over carriage returns up to the next line feed: the lines the editor shows "
      "after it are not read; save the file with LF or CR LF line ends [-Wline-end]"}},
    // A CR inside a word is dropped: "100\rLED" is one word.
    {"DELAY 100\rLED GREEN ON\r\n",
     {"1:10: warning: a carriage return without a line feed: vendrak ends no line here, so the words on both sides of it "
      "join and its messages name other lines than the editor shows; save the file with LF or CR LF line ends "
      "[-Wline-end]",
      "1:15: error: Unknown command: GREEN"}},
    {"LCD 1 1 \"Battery\r\nlow\"\nLCD 2 1 \"a\tb\"\nLCD 3 1 \"x\\\\ny\"\nLCD 4 1 \"\x07\"\nLOG ADD \"a\tb\"\nLCD 5 1 \"a;b\"",
     {"1:9: warning: this string runs on to line 2 and holds its line breaks: is its closing quote missing? "
      "[-Wstring-lines]",
      "2:4: note: the string ends here",
      "3:9: warning: this text holds a tab: the screen shows it as one cell, not as blanks up to a tab stop [-Wscreen-text]",
      "4:9: warning: \\n is no line break on a screen: it shows \\ and n; write the next row with a statement of its own "
      "[-Wscreen-text]",
      "5:9: warning: this text holds the control character 0x07: the screen shows it as one cell [-Wscreen-text]"}},
    // Subroutines.
    {"GOSUB beep\nLCD 1 1 \"x\"\nbeep:\n  LED GREEN TOGGLE\n  RETURN\n",
     {"3:1: warning: the script runs on into subroutine beep from the line above, and its RETURN then has no GOSUB to go "
      "back to: put EXIT or a GOTO before the label [-Wreturn-without-gosub]"}},
    {"GOTO beep\nLCD 1 1 \"x\"\nEXIT\nbeep:\n  LED GREEN TOGGLE\n  RETURN\n",
     {"1:1: warning: GOTO beep leads to a RETURN, which then has no GOSUB to go back to: call it with GOSUB beep "
      "[-Wreturn-without-gosub]",
      "2:1: warning: no path of the program reaches this statement [-Wunreachable]"}},
    {"LED RED ON\nRETURN\n",
     {"2:1: warning: this RETURN can be reached without a GOSUB: there is nothing to return to [-Wreturn-without-gosub]"}},
    {"GOSUB beep\nEXIT\nbeep:\n  IF VBAT < 12\n    RETURN\n  ENDIF\n  GOTO beep\n", {}},
    {"GOSUB check\nEXIT\ncheck:\n  EXIT\n",
     {"1:1: warning: subroutine check never reaches a RETURN (it ends in EXIT, jumps away or loops): the statements after "
      "this GOSUB never run [-Wgosub-return]",
      "3:1: note: the subroutine begins here"}},
    {"GOSUB again\nEXIT\nagain:\n  GOSUB again\n  RETURN\n",
     {"1:1: warning: subroutine again never reaches a RETURN (it ends in EXIT, jumps away or loops): the statements after "
      "this GOSUB never run [-Wgosub-return]",
      "3:1: note: the subroutine begins here",
      "4:3: warning: subroutine again calls itself here with no way out: it never reaches a RETURN [-Wgosub-return]",
      "3:1: note: the subroutine begins here"}},
    {"top:\nGOSUB wait\nGOTO top\nwait:\n  GETKEY\n  GOTO top\n",
     {"2:1: warning: subroutine wait never reaches a RETURN (it ends in EXIT, jumps away or loops): the statements after "
      "this GOSUB never run [-Wgosub-return]",
      "4:1: note: the subroutine begins here", "6:3: note: GOTO top leaves the subroutine here"}},
    // Jumps into blocks; crossing blocks close where program assembly closes them.
    {"GETKEY\nIF KEY = ENTER\n  GOTO in\nENDIF\nIF KEY = UP\nin:\n  LED RED ON\nENDIF\nGOTO loop\nDO\nloop:\n  GETKEY\n"
     "WHILE KEY ! ENTER\n",
     {"3:3: warning: GOTO in enters the IF block of line 5 from outside it: its condition is not tested "
      "[-Wgoto-into-block]",
      "9:1: warning: GOTO loop enters the DO block of line 10 from outside it: the loop's DO is skipped "
      "[-Wgoto-into-block]"}},
    {"VAR[1] = 0\nGOTO out\nIF VAR[1] = 1 DO ENDIF GETKEY WHILE KEY = UP\nout:\nIF VAR[1] = 2\n  GOTO back\n  back:\nENDIF",
     {"3:1: warning: no path of the program reaches this statement [-Wunreachable]"}},
    // Loops: only those with no way out whose condition nothing in them changes.
    {"GETKEY\nVAR[0] = 1\nDO\n  LED RED ON\nWHILE KEY ! ENTER\nDO\n  VAR[1] = 1\nWHILE VAR[0] < 5\nDO\n  DELAY 1\n"
     "WHILE 1 = 1\nDO\nWHILE 0 ! 0\n",
     {"5:1: warning: this loop cannot end once it repeats: there is no GETKEY in the loop to read KEY again, and nothing "
      "leaves it [-Wendless-loop]",
      "3:1: note: the loop begins here",
      "8:1: warning: this loop cannot end once it repeats: no statement of the loop sets VAR[0], and nothing leaves it "
      "[-Wendless-loop]",
      "6:1: note: the loop begins here",
      "11:1: warning: this loop cannot end once it repeats: its condition compares constants, and nothing leaves it "
      "[-Wendless-loop]",
      "9:1: note: the loop begins here",
      "13:7: warning: this condition is always false: the loop runs once [-Wconstant-condition]"}},
    {"GETKEY\nDO\n  DELAY 1\nWHILE VBAT < 12\nDO\n  IF KEY = UP\n    ENDDO\n  ENDIF\nWHILE KEY ! ENTER\nDO\n  DO\n"
     "    GETKEY\n  WHILE KEY = UP\nWHILE KEY ! ENTER\nDO\n  GOSUB s\nWHILE KEY ! ENTER\nDO\n  READ SID\n"
     "WHILE DATA[0,1] = 0x7F\nEXIT\ns:\n  GETKEY\n  RETURN",
     {}},
    {"VAR[0] = CH1\nIF 1 = 0\nENDIF\nIF VAR[0] = VAR[0]\nENDIF\nIF VAR[0] & 0\nENDIF\nIF 2 > 1\nENDIF\nIF VAR[0] ! VAR[1]\n"
     "ENDIF",
     {"2:4: warning: this condition is always false: the statements up to its ELSE or ENDIF never run "
      "[-Wconstant-condition]",
      "4:4: warning: this condition is always true: the IF tests nothing [-Wconstant-condition]",
      "6:4: warning: this condition is always false: the statements up to its ELSE or ENDIF never run "
      "[-Wconstant-condition]",
      "8:4: warning: this condition is always true: the IF tests nothing [-Wconstant-condition]",
      "10:13: warning: VAR[1] is read here before any statement sets it, on every path to it [-Wunset]"}},
    // Values set on some path, in a subroutine, or on none.
    {"IF KEY = ENTER\nENDIF\nLCD 1 1 TIME\nGETKEY\nGETTIME\nIF KEY = UP\n  VAR[2] = 1\nENDIF\nVAR[3] = VAR[2] + VAR[4]\n"
     "LOG FILE TIME\nGOSUB s\nLCD 1 1 VAR[5]\nEXIT\ns:\n  VAR[5] = 1\n  RETURN",
     {"1:4: warning: KEY is read here before any GETKEY has read a key, on every path to it [-Wunset]",
      "3:9: warning: TIME is read here before any GETTIME has read the time, on every path to it [-Wunset]",
      "9:19: warning: VAR[4] is read here before any statement sets it, on every path to it [-Wunset]"}},
    // Order: only where the script has a NET (LOG NEW) that some path skips.
    {"GOSUB setup\nDIAG ISO14229 0x7E0 0x7E8\nEXIT\nsetup:\n  NET CAN_HS 11 500000\n  RETURN\n", {}},
    {"PROG \"app.vbf\"\nWRITE SID 0x10 0x01\nLOG ADD VBAT", {}},
    {"IF VBAT < 12\n  GOTO go\nENDIF\nNET CAN_HS 11 500000\ngo:\nWRITE SID 0x10 0x01\nREAD SID 0x50\nLOG ADD VBAT\nLOG NEW "
     "\"x\"\n",
     {"6:1: warning: WRITE can be reached before any NET: open the network first [-Worder]",
      "8:1: warning: LOG ADD can be reached before any LOG NEW: start the log first [-Worder]"}},
    // Values.
    {"LCD 1 1 DATA[300,2]\nLCD 2 1 HEX[250,10]\nLOG ADD DATA[0,5]\nVAR[1] = DATA[255,2]\nHLCD 1 1 TEXT[200,56]\n"
     "VAR[2] = DATA[254,2]\nLCD 3 1 HEX[0,0]",
     {"1:9: warning: DATA[300,2] starts past byte 255, the last a slice reads: offsets go from 0 to 255 [-Wslice-range]",
      "2:9: warning: HEX[250,10] runs past byte 255, the last a slice reads [-Wslice-range]",
      "3:9: warning: DATA[0,5]: the length of DATA goes from 1 to 4 [-Wslice-range]",
      "4:10: warning: DATA[255,2] runs past byte 255, the last a slice reads [-Wslice-range]",
      "5:10: warning: TEXT[] of 56 characters runs on from row 1 into row 4: 16 cells are left in row 1 "
      "[-Wrow-overflow]",
      "7:9: warning: HEX[0,0]: the length of HEX goes from 1 to 16 [-Wslice-range]"}},
    {"IF DATA[0,1] = 0xF1\nENDIF\nIF UDATA[0,1] < 0\nENDIF\nIF BIT[3,1] = 2\nENDIF\nIF 300 > UDATA[1,1]\nENDIF\n"
     "IF DATA[0,2] ! 40000\nENDIF\nIF TEXT[3,4] = \"ABC\"\nENDIF\nIF TEXT[3,3] ! \"ABC\"\nENDIF\nIF DATA[0,1] = 0x7F\n"
     "ENDIF\nIF UDATA[0,1] > 254\nENDIF\nGETKEY\nIF KEY < ENTER\nENDIF\nIF DATA[0,4] = 0x7FFFFFFF\nENDIF\n"
     "IF UDATA[0,1] < 1\nENDIF",
     {"1:4: warning: this comparison can never hold: DATA[0,1] holds values from -128 to 127 only [-Wnever-true]",
      "3:4: warning: this comparison can never hold: UDATA[0,1] holds values from 0 to 255 only [-Wnever-true]",
      "5:4: warning: this comparison can never hold: BIT[3,1] holds values from 0 to 1 only [-Wnever-true]",
      "7:4: warning: this comparison always holds: UDATA[1,1] holds values from 0 to 255 only [-Wnever-true]",
      "9:4: warning: this comparison always holds: DATA[0,2] holds values from -32768 to 32767 only [-Wnever-true]",
      "11:4: warning: this comparison can never hold: TEXT[3,4] holds 4 characters, the string 3 [-Wnever-true]",
      "20:4: warning: keys have no order: compare them with = or ! [-Wnever-true]"}},
    {"VAR[0] = 5\nVAR[1] = VAR[0] / 0\nVAR[2] = VAR[0] / 0.0\nVAR[3] = VAR[0] * 0\nVAR[4] = 0 / VAR[0]\n"
     "LCD 1 1 VBAT 16.0 10.0\nLOG ADD VBAT 5.0 5.0\nHUD 1 1 VBAT 0.0 16.0\nVIN_VERIFY \"SALGA2EV9HA12345\"\n"
     "VIN_VERIFY \"SALGA2EV9HA123456\"\n",
     {"2:19: warning: division by 0 [-Wdivide-by-zero]", "3:19: warning: division by 0 [-Wdivide-by-zero]",
      "6:14: warning: the bar's low limit 16 is not below its high limit 10 [-Wbar-limits]",
      "7:14: warning: the bar's low limit 5 is not below its high limit 5 [-Wbar-limits]",
      "9:12: warning: a VIN has 17 characters; this one has 16 [-Wvin-length]"}},
    // Requests and their replies.
    {"NET CAN_HS 11 500000\nDIAG ISO14229 0x7E0 0x7E8\nWRITE SID\nREAD SID 0x62\nWRITE MSG 0x7DF\nREQUEST\nDELAY 1\n"
     "REQUEST 0x10 0x03\nREAD SID 0x62\nREQUEST 0x10 0x03\nREAD SID 0x50\nWRITE SID 0x22 0xF1 0x90\nREAD SID 0x7F\n"
     "WRITE SID 0x62\nREAD SID 0x22\nWRITE SID 0x22 0xF1 0x90\nDELAY 1\nREAD SID 0x10\nPERIODIC SID 0\n",
     {"3:1: warning: this WRITE SID sends no bytes: the list ends at the next word that is not a number "
      "[-Wempty-request]",
      "5:1: warning: this WRITE MSG sends no bytes: the list ends at the next word that is not a number "
      "[-Wempty-request]",
      "6:1: warning: this REQUEST sends no bytes: the list ends at the next word that is not a number "
      "[-Wempty-request]",
      "9:10: warning: READ SID 0x62 cannot answer the request 0x10 just sent: its reply is 0x50 (0x7F when refused) "
      "[-Wread-reply]"}},
    {"DEFINE TX 0x7E0\nDEFINE RX 0x7E8\nDEFINE TX 0x7E1\nDEFINE RX 0x7E8\nDEFINE X X 1\nDEFINE TX 1\n",
     {"3:8: warning: TX is defined again with another value: from here on it stands for this one, and above it for "
      "0x7E0 [-Wredefine]",
      "1:8: note: defined here before",
      "6:8: warning: TX is defined again with another value: from here on it stands for this one, and above it for "
      "0x7E1 [-Wredefine]",
      "3:8: note: defined here before"}},
    // Numbers the device keeps otherwise than written: UPLOAD and DOWNLOAD
    // take no sign and 32 bits at most, fields without a sign take no
    // negative number (a VAR index and a slice offset are other warnings'),
    // decimals beyond single precision become infinite, FW_VERSION keeps
    // its major number in 16 bits.
    {"UPLOAD 0x100200000 0xFFFFFFFF\nDOWNLOAD -1 4294967296\nDOWNLOAD 0 -0\nDAT_INIT DID -2\nDAT_CREATE DID 0xFFFE\n"
     "DID MODIFY 0xDE00 -4 1 + -1\nPERIODIC MSG -10 -1 2\nLCD 1 1 VBAT -1.0e39 3.0e38\nVAR[0] = 1.0e40\n"
     "FW_VERSION 70000.10\nFW_VERSION 65535.99\nVAR[1] = DATA[0,1] - 2\n",
     {"1:8: warning: \"0x100200000\" is beyond 32 bits and is read as 4294967295 [-Woverflow]",
      "2:10: warning: \"-1\" is read as 4294967295: this number has no sign, and a negative one wraps around [-Woverflow]",
      "2:13: warning: \"4294967296\" is beyond 32 bits and is read as 4294967295 [-Woverflow]",
      "4:14: warning: -2 is negative, but this field holds 0 to 65535: the device gets 65534 (0xFFFE) [-Woverflow]",
      "6:19: warning: -4 is negative, but this field holds 0 to 255: the device gets 252 (0xFC) [-Woverflow]",
      "6:26: warning: -1 is negative, but this field holds 0 to 255: the device gets 255 (0xFF) [-Woverflow]",
      "7:14: warning: -10 is negative, but this field holds 0 to 65535: the device gets 65526 (0xFFF6) [-Woverflow]",
      "8:14: warning: \"-1.0e39\" is beyond the single-precision numbers the device keeps: it becomes minus infinity "
      "[-Woverflow]",
      "9:10: warning: \"1.0e40\" is beyond the single-precision numbers the device keeps: it becomes infinity [-Woverflow]",
      "10:12: warning: the major number of FW_VERSION 70000.10 does not fit in 16 bits: the device checks version 4464.10 "
      "[-Woverflow]"}},
    // Networks: CAN with 11 or 29 bits at 125000 or 500000, LIN with 8 at 10400.
    {"NET CAN_HS 8 500000\nNET LIN 8 500000\nNET CAN_FD_MS 29 10400\nNET LIN 11 10400\nNET CAN_MS 11 125000\n"
     "NET LIN 8 10400\nNET CAN_FD_HS 29 500000\n",
     {"1:12: warning: CAN has no 8-bit identifiers: CAN identifiers have 11 or 29 bits, 8 is LIN's [-Wnetwork]",
      "2:11: warning: LIN does not run at 500000 bit/s: LIN runs at 10400 [-Wnetwork]",
      "3:18: warning: CAN does not run at 10400 bit/s: CAN runs at 125000 or 500000, 10400 is LIN's [-Wnetwork]",
      "4:9: warning: LIN has no 11-bit identifiers: LIN identifiers have 8 bits [-Wnetwork]"}},
    // Data sets: one DID through the sequence a DAT_INIT begins.
    {"DAT_INIT DID 0xF190\nDAT_CREATE DID 0xF191\nDAT_CHECK DID 0xF190\nDID SAVE 0xDE00\nDAT_DELETE DID 0xF190\n"
     "DAT_INIT VIN\nDAT_CREATE VIN\nDAT_INIT DID 0x1234\nDAT_CREATE DID 0x1234\nDAT_DELETE DID 0x4321\n",
     {"2:16: warning: this data set was begun with DID 0xF190, not 0xF191: the statements of one sequence name one DID "
      "[-Wdata-set]",
      "1:14: note: DAT_INIT names its DID here",
      "10:16: warning: this data set was begun with DID 0x1234, not 0x4321: the statements of one sequence name one DID "
      "[-Wdata-set]",
      "8:14: note: DAT_INIT names its DID here"}},
    // DEFINE names: a number, and names of several words inside strings (a
    // plain word such as ECU is text as meant).
    {"DEFINE 0x7E0 ENGINE\nDEFINE SW_PART \"31808832-AB\"\nDEFINE ECU 0x7E0\nVERSION \"SW_PART\"\n"
     "LCD 1 1 \"ECU ready\"\nLCD 2 1 \"ECU\"\nLCD 3 1 \"is SW_PART?\"\nLCD 4 1 \"SW_PARTS\"\nDEFINE 1st 1\n",
     {"1:8: warning: the name of this DEFINE is the number 0x7E0: from here on every 0x7E0 stands for ENGINE; a DEFINE "
      "takes the name first, then its value [-Wdefine-number]",
      "4:9: warning: SW_PART is written inside a string, where a DEFINE name is not replaced: the text shows SW_PART, "
      "not \"31808832-AB\" [-Wdefine-in-string]",
      "2:8: note: defined here",
      "7:9: warning: SW_PART is written inside a string, where a DEFINE name is not replaced: the text shows SW_PART, "
      "not \"31808832-AB\" [-Wdefine-in-string]",
      "2:8: note: defined here"}},
    // A warning quoting the script's words shows them printable.
    {"DEFINE T \"a\tb\"\nDEFINE T \"c\"\n",
     {"2:8: warning: T is defined again with another value: from here on it stands for this one, and above it for "
      "\"a\\x09b\" [-Wredefine]",
      "1:8: note: defined here before"}},
    {"LCD 1 1 \"TX\"\nDEFINE TX 0x7E0\nDEFINE 5 x\n",
     {"3:8: warning: the name of this DEFINE is the number 5: from here on every 5 stands for x; a DEFINE takes the name "
      "first, then its value [-Wdefine-number]"}},
    // Notes on errors.
    {"GOSBU x\n", {"1:1: error: Unknown command: GOSBU", "1:1: note: did you mean GOSUB?"}},
    {"LED GREN ON\nLED RED OF\n", {"1:5: error: Unknown LED <color>", "1:5: note: did you mean GREEN?"}},
    {"LED RED BLUE\n", {"1:9: error: Unknown LED >state>", "1:9: note: write one of ON, OFF, TOGGLE"}},
    {"main:\n  GOTO mian\nMenu:\nGOTO menu\n",
     {"1:1: warning: no GOTO or GOSUB names label main [-Wunused-label]",
      "2:8: error: Invalid label 'mian'", "2:8: note: did you mean main?",
      "3:1: warning: no GOTO or GOSUB names label Menu [-Wunused-label]",
      "4:6: error: Invalid label 'menu'", "4:6: note: did you mean Menu?"}},
    {"DELAY 1\n// wait\n", {"2:1: error: Unknown command: /", "2:1: note: comments begin with ; (or stand between /* "
                                                                "and */), not with //"}},
    {"WRITE SID 22 F1 90\n", {"1:14: error: Unknown command: F1", "1:14: note: a hexadecimal number begins with 0x: "
                                                                   "write 0xF1"}},
    {"DIAG ISO14229 A0 0x7E8\n", {"1:15: error: expected a number, but found: A0",
                                  "1:15: note: a hexadecimal number begins with 0x: write 0xA0"}},
    {"DEFINE TIMEOUT 500\nDELAY TIMOUT\n", {"2:7: error: expected a number, but found: TIMOUT",
                                             "2:7: note: did you mean TIMEOUT?"}},
    {"DEFINE PAUSE \"long\"\nLCD 1 1 \"x\"\nDELAY PAUSE\n",
     {"3:7: error: expected a number, but found: \"long\"", "1:8: note: PAUSE is defined here as \"long\""}},
    {"DEFINE PAUSE 0\nDELAY PAUSE\n", {"2:7: error: DELAY out of range", "1:8: note: PAUSE is defined here as 0"}},
    {"GETKEY\nIF KEY = ENTER\n  LCD 1 1 \"a\"\nELSE IF KEY = UP\n  LCD 1 1 \"b\"\nENDIF\n",
     {"2:1: error: Unterminated IF",
      "4:1: note: there is no ELSE IF: this IF opens a block of its own inside the ELSE, which needs its own ENDIF"}},
    {"GETKEY\nIF KEY = ENTER\n    IF VBAT < 12\n        LED RED ON\n    LCD 1 1 \"x\"\nENDIF\n",
     {"2:1: error: Unterminated IF", "3:5: note: this IF is never closed: add its ENDIF"}},
    {"DO\n  GETKEY\n  DO\n    LED GREEN TOGGLE\nWHILE KEY ! ESCAPE\n",
     {"1:1: error: Unterminated DO", "3:3: note: this DO is never closed: add its WHILE"}},
    {"LCD 1 1 \"Ready\"\nLCD 2 1 \"Press\nWAITKEY ENTER\nLCD 3 1 \"Go\"\n",
     {"2:9: warning: this string runs on to line 4 and holds its line breaks: is its closing quote missing? "
      "[-Wstring-lines]",
      "4:9: note: the string ends here", "4:10: error: Unknown command: Go",
      "2:9: note: the string opened here runs on to line 4: is its closing quote missing?"}},
    // Words of other languages and words the statement before leaves over.
    {"WAITKEY ENTR\n", {"1:9: error: Invalid primary expression: ENTR", "1:9: note: did you mean ENTER?"}},
    {"LCD 1 1 VBATT\n", {"1:9: error: Invalid primary expression: VBATT", "1:9: note: did you mean VBAT?"}},
    {"LCD 1 1 \xE2\x80\x9CReady\xE2\x80\x9D\n",
     {"1:9: error: Invalid primary expression: \\xE2",
      "1:9: note: this is a typographic quote: strings begin and end with a straight \""}},
    {"GETKEY\nIF KEY == ENTER\nENDIF\n",
     {"2:8: error: Invalid test expression: ==", "2:8: note: a comparison for equality is written =; the comparisons are "
                                                  "= ! < > &"}},
    {"VAR[0] = 1\nIF VAR[0] >= 1\nENDIF\n",
     {"2:11: error: Invalid test expression: >=", "2:11: note: there is no >=: compare with > and the number one below; "
                                                    "the comparisons are = ! < > &"}},
    {"VAR[0] = 1\nIF VAR[0] <> 1\nENDIF\n",
     {"2:11: error: Invalid test expression: <>", "2:11: note: \"not equal\" is written ! (or !=); the comparisons are "
                                                    "= ! < > &"}},
    {"GOSUB beep\nEXIT\nbeep\n  RETURN\n", {"3:1: error: Unknown command: beep", "3:1: note: a label ends with a colon: "
                                                                                  "write beep:"}},
    {"READ SID 98\n", {"1:10: error: Unknown command: 98", "1:10: note: READ takes its identifier in hexadecimal, with a "
                                                           "lower-case 0x: 98 is 0x62"}},
    {"WRITE SID 0x22, 0xF1\n", {"1:15: error: Unknown command: ,", "1:15: note: the numbers of a list stand apart without "
                                                                    "commas"}},
    {"VAR[1] = 2\nVAR[1] = VAR[1] -1\n",
     {"2:17: error: Unknown command: -1", "2:17: note: a minus sign written against a word belongs to it: put a blank "
                                          "after the -"}},
    {"HLCD 2 1 VBAT 0 16\n", {"1:15: error: Unknown command: 0", "1:15: note: bar limits are read only when the first has "
                                                                  "a decimal point: write 0.0"}},
    {"DEFINE LIMIT 11.5\nIF VBAT < LIMIT\nENDIF\n",
     {"2:4: error: Invalid test expression", "2:4: note: VBAT compares only with whole numbers: compare with a whole "
                                             "number, or copy VBAT into a VAR first and compare that"}},
    {"LCD 1 1 \"x\nDELAY 1", {"1:9: error: Token too long: \"x\\x0ADELAY 1\\xFF (1013 times)",
                              "1:9: note: string opened here is never closed"}},
};

// Run in a directory with the examples' VBF files and a few of the test's
// own; job/ holds a script with VBF files beside it.
TEST(check_table, findings) {
    const scratch_dir dir;
    const fs::path run = dir.run();
    for (const char* f : {"app.vbf", "cal.vbf", "sbl.vbf"}) fs::copy(source_root / "examples" / f, run / f);
    fs::copy(source_root / "tests/data/reference.vbf", run / "reference.vbf");
    fs::copy(run / "app.vbf", run / "app.vbf.bak");
    fs::copy(run / "sbl.vbf", run / "sbl.bin");
    // "123456789" is the check string of CRC-16/CCITT-FALSE: 0x29B1.
    const std::string sections = section(0x8000, "123456789", 0x1234) + section(0x9000, "123456789", 0x29B1);
    write_file(run / "bad.vbf", vbf_file("data_format_identifier=0x00;", sections));
    write_file(run / "packed.vbf", vbf_file("data_format_identifier=0x10;", sections));
    write_file(run / "broken.vbf", vbf_file("", sections, "0x0"));
    fs::create_directory(run / "job");
    fs::copy(run / "sbl.vbf", run / "job/boot.vbf");
    fs::copy(run / "app.vbf", run / "job/cal.vbf");
    for (const row& r : rows) {
        const std::string text(r.script);
        write_file(run / r.file, text);
        check_options options;
        options.vbf_directory = run.string();
        const std::vector<finding> found = check_script(text, (run / r.file).string(), options);
        std::vector<std::string> got;
        for (const finding& f : found) {
            std::string s = shown(f);
            if (const size_t at = s.find(run.string()); at != s.npos) s.replace(at, run.string().size(), "$RUN");
            got.push_back(s);
            for (const note& n : f.notes)
                got.push_back(std::to_string(n.line) + ":" + std::to_string(n.column) + ": note: " + n.message);
        }
        EXPECT_EQ(got, r.findings) << text;
        EXPECT_EQ(vendrak::fuzzing::check_one(text), "") << text;
    }
}

// Scripts that compile as written and mean what they say: the examples, the
// end-to-end scripts that compile, and the clean scripts beside the slips
// check without a warning. (The manual's blocks are checked by
// tests/dist/manual.sh.) block_statements pairs blocks in every odd way on
// purpose, and is left out with its decompiled form.
TEST(check_corpus, clean_scripts_give_no_finding) {
    std::vector<fs::path> scripts;
    for (const fs::path& dir : {source_root / "examples", source_root / "tests/e2e/cases", source_root / "tests/data/check/clean"})
        for (const auto& e : fs::recursive_directory_iterator(dir))
            if (e.path().extension() == ".vsc" && e.path().string().find("block_statements") == std::string::npos)
                scripts.push_back(e.path());
    size_t checked = 0;
    for (const fs::path& path : scripts) {
        const std::string text = read_file(path);
        try {
            const vendrak::script s = vendrak::parse_script_text(text);
            vendrak::validate_script(s);
            vendrak::program p;
            vendrak::compile_script(s, p);
        } catch (const vendrak::fatal_error&) {
            continue;  // made to fail
        }
        check_options options;
        // The clean scripts program the examples' VBF files.
        options.vbf_checks = path.parent_path() == source_root / "examples" ||
                             path.parent_path() == source_root / "tests/data/check/clean";
        options.vbf_directory = (source_root / "examples").string();
        for (const finding& f : check_script(text, path.string(), options)) ADD_FAILURE() << path << ":" << shown(f);
        ++checked;
    }
    EXPECT_GT(checked, 40u);
}

// Each slip script (its first line says "; cause: N") is reported at the
// line of its cause, by a finding or a note; the few the checker cannot see
// are named here.
TEST(check_corpus, slips_reported_at_their_cause) {
    const std::set<std::string> not_seen = {
        "12-lone-cr.vsc",  // the file is one line to vendrak: the finding stands on line 1
    };
    size_t slips = 0;
    for (const auto& e : fs::directory_iterator(source_root / "tests/data/check/slips")) {
        const std::string text = read_file(e.path());
        const uint32_t cause = static_cast<uint32_t>(std::stoul(text.substr(text.find("cause: ") + 7)));
        check_options options;
        options.vbf_directory = e.path().parent_path().string();
        bool seen = false;
        for (const finding& f : check_script(text, e.path().string(), options)) {
            seen = seen || f.line == cause;
            for (const note& n : f.notes) seen = seen || n.line == cause;
        }
        const bool expected = !not_seen.contains(e.path().filename().string());
        EXPECT_EQ(seen, expected) << e.path();
        ++slips;
    }
    EXPECT_GE(slips, 40u);
}

// Every fix of a script applied to its text gives the script meant; a fix
// never edits a word that a DEFINE put there.
TEST(check_fixes, applied) {
    const auto apply = [](std::string text, std::vector<edit> edits) {
        std::vector<size_t> starts{0};
        for (size_t i = 0; i < text.size(); ++i)
            if (text[i] == '\n') starts.push_back(i + 1);
        const auto offset = [&](uint32_t line, uint32_t column) {
            return line > starts.size() ? text.size() : starts[line - 1] + column - 1;
        };
        std::sort(edits.begin(), edits.end(), [&](const edit& a, const edit& b) {
            return offset(a.line, a.column) > offset(b.line, b.column);
        });
        for (const edit& e : edits) {
            const size_t from = offset(e.line, e.column);
            text.replace(from, offset(e.end_line, e.end_column) - from, e.text);
        }
        return text;
    };
    const struct {
        std::string_view script, fixed;
    } cases[] = {
        {"DELAY 1.5\nDELAY 2s\nWRITE SID 010 -010\nVAR[1] = 5-1\nHUD 1 1 VBAT 0.0 16.5V\nDEFINE T 2.5\nDELAY T\n",
         "DELAY 1\nDELAY 2\nWRITE SID 8 -8\nVAR[1] = 5-1\nHUD 1 1 VBAT 0.0 16.5\nDEFINE T 2.5\nDELAY T\n"},
        {"GOSBU x\nEXIT\nx:\nRETURN", "GOSUB x\nEXIT\nx:\nRETURN"},
        {"LED GREN ON", "LED GREEN ON"},
        {"GOTO mian\nmain:", "GOTO main\nmain:"},
        {"// c\nDELAY 1", "; c\nDELAY 1"},
        {"WRITE SID 0x22 F1 0x90", "WRITE SID 0x22 0xF1 0x90"},
        {"LCD 1 1 \"x\r\nDELAY 1", "LCD 1 1 \"x\"\r\nDELAY 1"},
        {"LCD 1 1 \"Press\nWAITKEY ENTER\nLCD 2 1 \"Go\"", "LCD 1 1 \"Press\"\nWAITKEY ENTER\nLCD 2 1 \"Go\""},
        {"IF VBAT < 12\n    IF VAR[0] = 1\n        LED RED ON\n    LCD 1 1 \"x\"\nENDIF\n",
         "IF VBAT < 12\n    IF VAR[0] = 1\n        LED RED ON\n    ENDIF\n    LCD 1 1 \"x\"\nENDIF\n"},
        {"IF VBAT < 12\n  LED RED ON", "IF VBAT < 12\n  LED RED ON\nENDIF\n"},
        {"GETKEY\nIF KEY == ENTER\nENDIF", "GETKEY\nIF KEY = ENTER\nENDIF"},
        {"GOSUB beep\nEXIT\nbeep\nRETURN", "GOSUB beep\nEXIT\nbeep:\nRETURN"},
        {"VAR[1] = 2\nVAR[1] = VAR[1] -1", "VAR[1] = 2\nVAR[1] = VAR[1] - 1"},
        {"HUD 1 1 VBAT 0 16.5", "HUD 1 1 VBAT 0.0 16.5"},
        {"WAITKEY ENTR", "WAITKEY ENTER"},
        {"GOTO beep\nEXIT\nbeep:\nRETURN", "GOSUB beep\nEXIT\nbeep:\nRETURN"},
        {"IF VBAT < 12\n  LED RED ON\n", "IF VBAT < 12\n  LED RED ON\nENDIF\n"},
    };
    check_options options;
    options.vbf_checks = false;
    for (const auto& c : cases) {
        std::vector<edit> edits;
        for (const finding& f : check_script(c.script, "f.vsc", options)) edits.insert(edits.end(), f.fix.begin(), f.fix.end());
        EXPECT_EQ(apply(std::string(c.script), edits), c.fixed) << c.script;
    }
}

// The formats of one run: a script with two warnings, one whose message
// holds a line feed, and a file that cannot be read. SARIF counts columns
// in UTF-16 units (the "1.5" after the two-byte "Ã©" is at byte 20,
// unit 19) and names files by URI; the schema test validates the rest.
TEST(check_formats, gnu_json_sarif) {
    check_options options;
    options.vbf_checks = false;
    const std::string a = "LCD 1 1 \"\xC3\xA9\" DELAY 1.5\n", c = "DELAY \"a\nb\"";
    const std::vector<checked_script> scripts = {{"a b.vsc", a, check_script(a, "a b.vsc", options)},
                                                 {"c.vsc", c, check_script(c, "c.vsc", options)},
                                                 check_file("missing.vsc", options)};
    auto in = [&](output_format f) { return written([&](std::FILE* out) { write_findings(out, f, scripts); }); };
    EXPECT_EQ(in(output_format::gnu),
              "a b.vsc:1:9: warning: this text holds characters of several bytes (UTF-8): each byte takes a cell of the "
              "screen [-Wencoding]\n"
              "a b.vsc:1:20: warning: \"1.5\" is read as 1: a whole number is expected here, and the fraction is dropped "
              "[-Wfraction]\n"
              "c.vsc:1:7: error: expected a number, but found: \"a\\x0Ab\"\n"
              "c.vsc:1:7: warning: this string runs on to line 2 and holds its line breaks: is its closing quote missing? "
              "[-Wstring-lines]\n"
              "c.vsc:2:2: note: the string ends here\n"
              "missing.vsc: error: Cannot open \"missing.vsc\" script file\n");
    EXPECT_EQ(in(output_format::json),
              "[\n"
              "  {\"file\": \"a b.vsc\", \"line\": 1, \"column\": 9, \"severity\": \"warning\", \"name\": \"encoding\", "
              "\"message\": \"this text holds characters of several bytes (UTF-8): each byte takes a cell of the screen\", "
              "\"notes\": [], \"fix\": []},\n"
              "  {\"file\": \"a b.vsc\", \"line\": 1, \"column\": 20, \"severity\": \"warning\", \"name\": \"fraction\", "
              "\"message\": \"\\\"1.5\\\" is read as 1: a whole number is expected here, and the fraction is dropped\", "
              "\"notes\": [], \"fix\": [{\"line\": 1, \"column\": 21, \"end_line\": 1, \"end_column\": 23, \"text\": \"\"}]},\n"
              "  {\"file\": \"c.vsc\", \"line\": 1, \"column\": 7, \"severity\": \"error\", \"name\": null, "
              "\"message\": \"expected a number, but found: \\\"a\\\\x0Ab\\\"\", \"notes\": [], \"fix\": []},\n"
              "  {\"file\": \"c.vsc\", \"line\": 1, \"column\": 7, \"severity\": \"warning\", \"name\": \"string-lines\", "
              "\"message\": \"this string runs on to line 2 and holds its line breaks: is its closing quote missing?\", "
              "\"notes\": [{\"line\": 2, \"column\": 2, \"message\": \"the string ends here\"}], "
              "\"fix\": [{\"line\": 1, \"column\": 9, \"end_line\": 1, \"end_column\": 9, \"text\": \"\\\"\"}]},\n"
              "  {\"file\": \"missing.vsc\", \"line\": null, \"column\": null, \"severity\": \"error\", \"name\": null, "
              "\"message\": \"Cannot open \\\"missing.vsc\\\" script file\", \"notes\": [], \"fix\": []}\n"
              "]\n");
    const std::string sarif = in(output_format::sarif);
    EXPECT_NE(sarif.find("{\"ruleId\": \"fraction\", \"ruleIndex\": 2, \"level\": \"warning\""), sarif.npos);
    EXPECT_NE(sarif.find("{\"uri\": \"a%20b.vsc\"}, \"region\": {\"startLine\": 1, \"startColumn\": 19}"), sarif.npos);
    EXPECT_NE(sarif.find("{\"uri\": \"missing.vsc\"}}}]}"), sarif.npos);
}

// Notes and fixes: a note line after its finding in gnu, "notes" and "fix"
// in JSON, relatedLocations and fixes in SARIF, columns of the fix in UTF-16
// units (the edit after the two-byte "\xC3\xA9" on line 2 starts at byte 5,
// unit 4) and an edit that appends past the line's end.
TEST(check_formats, notes_and_fix) {
    finding f{2, 1, severity::warning, warning::octal, "m", {{1, 3, "opened\x01here"}},
              {{2, 5, 2, 8, "x\"y"}, {2, 9, 2, 9, ";"}}};
    const std::vector<checked_script> scripts = {{"n.vsc", "ab\n\xC3\xA9 010\n", {f}}};
    auto in = [&](output_format fmt) { return written([&](std::FILE* out) { write_findings(out, fmt, scripts); }); };
    EXPECT_EQ(in(output_format::gnu), "n.vsc:2:1: warning: m [-Woctal]\nn.vsc:1:3: note: opened\\x01here\n");
    EXPECT_EQ(in(output_format::json),
              "[\n  {\"file\": \"n.vsc\", \"line\": 2, \"column\": 1, \"severity\": \"warning\", \"name\": \"octal\", "
              "\"message\": \"m\", \"notes\": [{\"line\": 1, \"column\": 3, \"message\": \"opened\\u0001here\"}], "
              "\"fix\": [{\"line\": 2, \"column\": 5, \"end_line\": 2, \"end_column\": 8, \"text\": \"x\\\"y\"}, "
              "{\"line\": 2, \"column\": 9, \"end_line\": 2, \"end_column\": 9, \"text\": \";\"}]}\n]\n");
    const std::string sarif = in(output_format::sarif);
    EXPECT_NE(sarif.find("\"relatedLocations\": [{\"id\": 0, \"physicalLocation\": {\"artifactLocation\": {\"uri\": "
                         "\"n.vsc\"}, \"region\": {\"startLine\": 1, \"startColumn\": 3}}, \"message\": {\"text\": "
                         "\"opened\\u0001here\"}}]"),
              sarif.npos)
        << sarif;
    EXPECT_NE(sarif.find("\"deletedRegion\": {\"startLine\": 2, \"startColumn\": 4, \"endLine\": 2, \"endColumn\": 7}, "
                         "\"insertedContent\": {\"text\": \"x\\\"y\"}}, {\"deletedRegion\": {\"startLine\": 2, "
                         "\"startColumn\": 8, \"endLine\": 2, \"endColumn\": 8}"),
              sarif.npos)
        << sarif;
}

// The command line: options, warnings on and off, and the exit statuses.
TEST(check_command_line, options_and_status) {
    scratch_dir dir;
    const auto file = [&](const char* name, const char* text) {
        write_file(dir.run() / name, text);
        return (dir.run() / name).string();
    };
    const std::string clean = file("clean.vsc", "DELAY 5"), warned = file("warned.vsc", "DELAY 1.5"),
                      wrong = file("wrong.vsc", "DELAY 0"), flash = file("flash.vsc", "PROG \"nowhere.vbf\"");
    const struct {
        std::vector<std::string> args;
        int status;
        const char* out;  // null: not compared
    } cases[] = {
        {{clean}, 0, ""}, {{"-f", "json", clean}, 0, "[]\n"}, {{warned}, 0, nullptr}, {{"-Werror", warned}, 1, nullptr},
        {{warned, "-Wno-fraction", "-Werror"}, 0, ""}, {{"-Wno-fraction", "-Wfraction", "-Werror", warned}, 1, nullptr},
        {{"-w", "-Wfraction", "-Werror", warned}, 0, ""}, {{clean, wrong}, 1, nullptr}, {{flash}, 1, nullptr},
        {{"--no-vbf", flash}, 0, ""}, {{"--", "-w"}, 1, "-w: error: Cannot open \"-w\" script file\n"},
        {{"-Wnothing", clean}, 2, ""}, {{"--format=xml", clean}, 2, ""}, {{"-x", clean}, 2, ""}, {{}, 2, ""},
        {{"--version"}, 0, "vendrak-check " VENDRAK_VERSION "\n"},
    };
    for (const auto& c : cases) {
        const auto [status, out, err] = run_main(check_main, "vendrak-check", c.args);
        const std::string shown_args = ::testing::PrintToString(c.args);
        EXPECT_EQ(status, c.status) << shown_args << out << err;
        if (c.out) {
            EXPECT_EQ(out, c.out) << shown_args;
        }
        EXPECT_EQ(err.empty(), status != 2) << shown_args << err;
    }
}

// The manual names exactly the warnings there are.
TEST(check_manual, names_every_warning) {
    const std::string manual = read_file(source_root / "docs/language.md");
    std::set<std::string> named;
    const std::regex name(R"(`-W([a-z][a-z0-9-]*)`)");
    for (auto m = std::sregex_iterator(manual.begin(), manual.end(), name); m != std::sregex_iterator(); ++m)
        if (m->str(1) != "error" && m->str(1) != "name" && !m->str(1).starts_with("no-")) named.insert(m->str(1));
    std::set<std::string> known;
    for (const warning_info& w : warning_table()) known.insert(std::string(w.name));
    EXPECT_EQ(named, known);

    // And each with an example: a `vsc warning` block, which
    // tests/dist/manual.sh checks, named in the paragraph after it. The
    // warnings about VBF files need files the manual's blocks do not have.
    std::set<std::string> shown;
    std::istringstream lines(manual);
    std::string line;
    bool in_block = false, after = false;
    for (bool warning_block = false; std::getline(lines, line);) {
        if (!in_block && line.starts_with("```")) {
            in_block = true;
            warning_block = line == "```vsc warning";
        } else if (in_block && line.starts_with("```")) {
            in_block = false;
            after = warning_block;
        } else if (after && !line.empty()) {
            for (auto m = std::sregex_iterator(line.begin(), line.end(), name); m != std::sregex_iterator(); ++m)
                shown.insert(m->str(1));
            after = false;
        }
    }
    for (const std::string& w : {"flash-name"s, "vbf-path"s, "block-checksum"s}) known.erase(w);
    std::vector<std::string> missing;
    std::set_difference(known.begin(), known.end(), shown.begin(), shown.end(), std::back_inserter(missing));
    EXPECT_EQ(missing, std::vector<std::string>{});
}

}  // namespace
