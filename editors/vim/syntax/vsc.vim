" Vim syntax file
" Language:	vendrak script (.vsc), the scripts of the handheld
"		vehicle-interface device that vendrak compiles
"
" Keywords match in any letter case. A word is a run of letters, digits and
" "-", ".", ":", "_", so "-5", "1.5", "12ms" and "loop:" are single words.

if exists("b:current_syntax")
  finish
endif

let s:cpo_save = &cpo
set cpo&vim

syn case ignore
syn iskeyword 48-57,65-90,97-122,45,46,58,95

" Operators come first: the comments defined later win where "/" starts one.
" A run of "<", "=", ">" and "!" is one token; only = ! != < > compare, and
" <=, >=, == or <> are accepted by no statement.
syn match vscBadOperator /[<=>!]\+/
syn match vscOperator /[<=>!]\@1<!\%(!=\|[=!<>]\)[<=>!]\@!/
syn match vscOperator "[+*&|^/]"
syn match vscOperator /[-0-9A-Za-z_.:]\@1<!-[-0-9A-Za-z_.:]\@!/
syn match vscDelimiter /[][{},]/

" A number is read from the start of its word and the rest is ignored
" (12ms is 12); a word with a point is a float. A word of two characters
" or more that starts with a letter or digit and ends with ":" is a label.
syn match vscNumber /[-0-9A-Za-z_.:]\@1<!-\=\d[-0-9A-Za-z_.:]*/
syn match vscFloat /[-0-9A-Za-z_.:]\@1<!-\=\%(\d[-0-9A-Za-z_:]*\.\|\.\d\)[-0-9A-Za-z_.:]*/
syn match vscLabel /[-0-9A-Za-z_.:]\@1<![0-9A-Za-z][-0-9A-Za-z_.:]*:[-0-9A-Za-z_.:]\@!/

" Strings have no escapes and run on over line ends. A character constant
" holds exactly one character, which may be a line feed.
syn region vscString start=/"/ end=/"/
syn region vscBadCharacter start=/'/ end=/'/
syn match vscCharacter /'\_[^']'/

" The "*" of the opening "/*" also counts for the closing "*/".
syn match vscComment /;.*$/
syn region vscComment start="/\*" end="\*\@1<=/"

syn keyword vscDefine DEFINE nextgroup=vscDefineName skipwhite skipnl skipempty
syn match vscDefineName /[-0-9A-Za-z_.:]\+/ contained

syn keyword vscConditional IF ELSE ENDIF
syn keyword vscRepeat DO WHILE ENDDO
syn keyword vscJump EXIT RETURN
syn keyword vscJump GOTO GOSUB nextgroup=vscLabelRef skipwhite skipnl skipempty
syn match vscLabelRef /[-0-9A-Za-z_.:]\+/ contained

syn keyword vscStatement DELAY UPLOAD MEM DOWNLOAD GETKEY GETTIME FW_VERSION
syn keyword vscStatement EXEC REQ_FILE LCD HLCD HUD PROGNC PROGNR PROG
syn keyword vscStatement SECURITY VERSION VIN_VERIFY WAITKEY REQUEST

" Statements whose first argument is a choice word.
syn keyword vscStatement DAT_CREATE DAT_CHECK DAT_DELETE DAT_INIT nextgroup=vscDatType skipwhite skipnl skipempty
syn keyword vscDatType VIN DID contained
syn keyword vscStatement DIAG nextgroup=vscDiagProtocol skipwhite skipnl skipempty
syn keyword vscDiagProtocol ISO14229 KWP2000 contained
syn keyword vscStatement NET nextgroup=vscNetwork skipwhite skipnl skipempty
syn keyword vscNetwork CAN_HS CAN_MS CAN_FD_HS CAN_FD_MS LIN contained
syn keyword vscStatement SET_VALUE nextgroup=vscParameter skipwhite skipnl skipempty
syn keyword vscParameter TERMINATION INTERFRAME BS_TX STMIN_TX VPROG AMPS IGN_LINE VOLTS contained
syn keyword vscStatement PERIODIC READ WRITE nextgroup=vscMessageType skipwhite skipnl skipempty
syn keyword vscMessageType SID MSG contained
syn keyword vscStatement DID nextgroup=vscDidOperation skipwhite skipnl skipempty
syn keyword vscDidOperation SAVE RECALL COMPARE WRITE MODIFY contained
syn keyword vscStatement INHALE EXHALE nextgroup=vscMethod skipwhite skipnl skipempty
syn keyword vscMethod A B contained
syn keyword vscStatement LED nextgroup=vscLedColor skipwhite skipnl skipempty
syn keyword vscLedColor GREEN RED contained nextgroup=vscLedState skipwhite skipnl skipempty
syn keyword vscLedState ON OFF TOGGLE contained
syn keyword vscStatement LOG nextgroup=vscLogMode skipwhite skipnl skipempty
syn keyword vscLogMode FILE NEW ADD contained

" Operands.
syn keyword vscVar VAR
syn keyword vscValue DAT_STATUS VOLTS AMPS IGN_LINE VBAT SERNUM DTC DTCVAL DAC
syn keyword vscValue CH1 CH2 KEY TIME P_TIME RTC
syn keyword vscKey ENTER ESCAPE UP DOWN LEFT RIGHT ANY
syn keyword vscNil NIL
syn keyword vscDataWord BIT HEX DATA UDATA FLOAT TEXT

" Strings and block comments may span many lines.
syn sync minlines=200

hi def link vscComment Comment
hi def link vscString String
hi def link vscCharacter Character
hi def link vscBadCharacter Error
hi def link vscBadOperator Error
hi def link vscNumber Number
hi def link vscFloat Float
hi def link vscLabel Label
hi def link vscLabelRef Label
hi def link vscDefine Define
hi def link vscDefineName Macro
hi def link vscConditional Conditional
hi def link vscRepeat Repeat
hi def link vscJump Statement
hi def link vscStatement Keyword
hi def link vscChoice Type
hi def link vscDatType vscChoice
hi def link vscDiagProtocol vscChoice
hi def link vscNetwork vscChoice
hi def link vscParameter vscChoice
hi def link vscMessageType vscChoice
hi def link vscDidOperation vscChoice
hi def link vscMethod vscChoice
hi def link vscLedColor vscChoice
hi def link vscLedState vscChoice
hi def link vscLogMode vscChoice
hi def link vscVar Identifier
hi def link vscValue Identifier
hi def link vscKey Constant
hi def link vscNil Constant
hi def link vscDataWord Function
hi def link vscOperator Operator
hi def link vscDelimiter Delimiter

let b:current_syntax = "vsc"

let &cpo = s:cpo_save
unlet s:cpo_save
