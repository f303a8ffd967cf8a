// North American RDS (RBDS, NRSC-4-B): the programme-type names used there
// and the call letters of a US station derived from its PI code.
#pragma once

#include <cstdint>
#include <string>

namespace rdsformats {

// The RBDS name of programme type 0..31 ("Rock" for 5), or nullptr.
const char* RbdsPtyName(int pty);

// The call letters a US PI code stands for ("KQED"), or the empty text when
// it stands for none. Four-letter calls: K for 0x1000..0x54A7, W for
// 0x54A8..0x994F; the three-letter calls of the fixed table from 0x9950;
// AFxy is read as xy00 and Axyz (x not F) as x0yz, the nationally linked
// and shortened forms.
std::string CallLetters(uint16_t pi);

}  // namespace rdsformats
