// A tiny TMC location table in the exchange format for the tests: road A7
// "Kestrel Coast Road" (100) with the points Harbour (201), Brücke (202,
// its name in Latin-1) and Cliffside (203), linked by their offsets.
#pragma once

#include <fstream>
#include <string>

namespace varnaktest {

inline void WriteTmcTable(const std::string& folder)
{
    const auto write = [&](const char* name, const std::string& text) {
        std::ofstream(folder + "/" + name, std::ios::binary) << text;
    };
    const std::string point = ";;;;;100;1;1;1;1;1;1;;;0;0\r\n";
    write("LOCATIONCODES.DAT", "CID;TABCD;LCD;ALLOCATED\r\n58;1;100;1\r\n58;1;201;1\r\n");
    write("NAMES.DAT",
          "CID;LID;NID;NAME;NCOMMENT;OFFICIALNAME\r\n58;1;1;Kestrel Coast Road;;\r\n"
          "58;1;2;Harbour;;\r\n58;1;3;Br\xFC"
          "cke;;\r\n58;1;4;Cliffside;;\r\n");
    write("ROADS.DAT",
          "CID;TABCD;LCD;CLASS;TCD;STCD;ROADNUMBER;RNID;N1ID;N2ID;ROA_LCD;SEG_LCD;POL_LCD\r\n"
          "58;1;100;L;1;1;A7;1;2;4;;;\r\n");
    write("SEGMENTS.DAT", "CID;TABCD;LCD;CLASS;TCD;STCD;ROADNUMBER;RNID;N1ID;N2ID;ROA_LCD;SEG_LCD;POL_LCD\r\n");
    write("POINTS.DAT",
          "CID;TABCD;LCD;CLASS;TCD;STCD;JUNCTIONNUMBER;RNID;N1ID;N2ID;POL_LCD;OTH_LCD;SEG_LCD;"
          "ROA_LCD;INPOS;INNEG;OUTPOS;OUTNEG;PRESENTPOS;PRESENTNEG;DIVERSIONPOS;DIVERSIONNEG;"
          "URBAN;INTERRUPTSROAD\r\n58;1;201;P;1;3;;;2" +
              point + "58;1;202;P;1;3;;;3" + point + "58;1;203;P;1;3;;;4" + point);
    write("OFFSETS.DAT",
          "CID;TABCD;LCD;NEG_OFF_LCD;POS_OFF_LCD\r\n58;1;201;;202\r\n58;1;202;201;203\r\n"
          "58;1;203;202;\r\n");
}

}  // namespace varnaktest
