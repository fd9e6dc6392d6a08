// The object writer's text description format, read by `parse_description`
// (the `mkobj` command, the sample and fuzz seed descriptions).
//
// The format is line based; blank lines and lines whose first non-blank character
// is "#" are ignored. Each line is a keyword and its arguments:
//
//   Object and header
//     kind program|dll              magic; dll also sets the DLL object flag
//     relno 72|61                   format release (default 72)
//     startdate DATE / enddate DATE YYYY-MM-DD or a day number
//     options N                     (default 1)
//     flags WORD                    object flags: names (NOTRANSACTIONS DEBUG
//                                   PROFILE DLL STICKY ADDINFO) or numbers,
//                                   joined by "|" or blanks; DLL and ADDINFO
//                                   are added by themselves when they apply
//     revision N                    obj_revision
//     count_extern N                (default: counted from the symbol table)
//     tiv 1 LENGTH | tiv 2 VALUE | tiv raw TYPE LENGTH [VALUE] | tiv none
//                                   release 72 only; default type 1, length 0;
//                                   none leaves the block out (damage)
//     compnr A B C                  the three compnr checks (default 0 0 0)
//
//   Sections (records appear in the order of their lines)
//     uses NAME                     a used DLL (numbered from 1)
//     proto NAME fun=FUNC [ret=DOMAIN] [flags=F] [required=N] [args=N|var]
//     arg NAME [domain=D] [flags=F] [where=N] [dims=A,B,..] [reserved=TEXT]
//                                   argument of the last proto; required and
//                                   args default to the number of arg lines
//     symbol NAME [flags=F] [dims=A,B,..] [len=N] [width=1|2|4] [domain=D]
//            [code61=N]             dims in declaration order; the width of
//                                   the size values is the narrowest unless
//                                   given; code61 forces a raw flag code
//     function NAME [flags=F] [offset=N] [dll=NAME|N] [code61=N]
//                                   flags default 0x200 (0x208 with dll=);
//                                   without offset= the offset is the
//                                   position of the function frame whose
//                                   SUB_TEXT holds the function's number
//     global NAME                   a global function name
//     string TEXT / double TEXT / ident TEXT
//     domain NAME [SYMBOL|@OFFSET ...]   a domains entry beside those made
//                                   from the domain= of the symbols
//     code hex BYTES                hex bytes, blanks allowed between bytes
//     code frame FUNC [body=HEX] [args=SYM,&SYM,..] [locals=SYM,..]
//                [globals=SYM,..]   a whole function frame: SUB_TEXT, body,
//                                   RET, SUB_LINK (& = by reference)
//     code asm                      assembler text up to a line "end",
//       ...                         handed to assemble()
//     end
//     Pieces of code are appended in the order of their lines.
//
//   Trailing blocks
//     usage TEXT                    the DLL usage description
//     describe FUNC TEXT            description of a function
//     addinfo TEXT                  a text record of the additional
//                                   information block
//     nodescriptions / noaddinfo    leave a block out
//
//   Damage (applied in this order: layout, header fields, checksum, patches,
//   truncation)
//     order SECTION...              file order of the sections (others follow)
//     gap SECTION N                 N filler bytes in front of a section
//     filler 0xNN                   the byte used for gaps (default 0x5A)
//     section SECTION [start=N] [size=N] [count=N]   header table entry
//     section SECTION raw HEX       the section's bytes, as given
//     header FIELD VALUE            magic (text, padded with NULs to 12
//                                   bytes), relno, bytesheader, startdate,
//                                   enddate, options, flags, count_extern,
//                                   obj_revision, fsm, checksum
//     checksum_delta N              added to the stored checksum
//     addinfo_checksum N            stored checksum of the additional block
//     patch OFFSET HEX              overwrite bytes after the checksum
//     truncate LENGTH               cut the file
//
// TEXT is the rest of the line, with the escapes \n \t \\ \" \xHH; it may be
// enclosed in double quotes to keep blanks at either end. FUNC is a function
// name of the function table or a number; SYMBOL a symbol name or a number;
// SECTION one of prototypes dlls code compnr1 symtab compnr2 funtab globfun
// strings compnr3 doubles domains idents, or its index. Numbers are decimal,
// or hexadecimal with 0x; flag words may combine numbers and the flag names
// of the symbol table (LONG DOUBLE STRING EXTERN ARRAY ... CONST_ARG) and
// SIZE16 SIZE32 with "|".
#pragma once

#include <string>
#include <string_view>

#include "objwriter.h"

namespace objw {

ObjSpec parse_description(std::string_view text);
ObjSpec load_description(const std::string &file);

} // namespace objw
