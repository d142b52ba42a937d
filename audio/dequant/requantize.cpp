#include "audio/dequant/requantize.h"

#include "audio/dequant/requantize_kernel.h"
#include "mpfix.h"

namespace mpfix {

// round(2^31 * 2^(-k/4)), k = 0..3; k = 0 held at 0x7FFFFFFF.
const int32_t quarterStepGain[4] = {0x7FFFFFFF, 0x6BA27E65, 0x5A82799A, 0x4C1BF829};

// [k][m]: 0 for m = 0; round(m^(4/3) 2^(-k/4) 2^28) for m = 1..3; round(m^(4/3) 2^(-k/4) 2^25) for m = 4..15.
const int32_t smallPowTable[4][16] = {
    {0x00000000, 0x10000000, 0x285145F3, 0x453A5CDB, 0x0CB2FF53, 0x111989D6, 0x15CE31C8, 0x1AC7F203, 0x20000000, 0x257106B9, 0x2B16B4A3, 0x30ED74B4, 0x36F23FA5, 0x3D227BD3, 0x437BE656, 0x49FC823C},
    {0x00000000, 0x0D744FCD, 0x21E71F26, 0x3A36ABD9, 0x0AADC084, 0x0E610E6E, 0x12560C1D, 0x168523CF, 0x1AE89F99, 0x1F7C03A4, 0x243BAE49, 0x29249C67, 0x2E34420F, 0x33686F85, 0x38BF3DFF, 0x3E370182},
    {0x00000000, 0x0B504F33, 0x1C823E07, 0x30F39A55, 0x08FACD62, 0x0C176319, 0x0F6B3522, 0x12EFE2AD, 0x16A09E66, 0x1A79A317, 0x1E77E301, 0x2298D5B4, 0x26DA56FC, 0x2B3A902A, 0x2FB7E7E7, 0x3450F650},
    {0x00000000, 0x09837F05, 0x17F910D7, 0x2929C7A9, 0x078D0DFA, 0x0A2AE661, 0x0CF73154, 0x0FEC91CB, 0x1306FE0A, 0x16434A6C, 0x199EE595, 0x1D17AE3D, 0x20ABD76A, 0x2459D551, 0x28204FBB, 0x2BFE1808},
};

// [m - 16]: round(m^(4/3) 2^23) for m = 16..63; round(m^(4/3) 2^21) for m = 64..128.
const int32_t midPowTable[113] = {
    0x1428A2FA, 0x15DB1BD6, 0x1796302C, 0x19598D85, 0x1B24E8BB, 0x1CF7FCFA, 0x1ED28AF2, 0x20B4582A,
    0x229D2E6E, 0x248CDB55, 0x26832FDA, 0x28800000, 0x2A832287, 0x2C8C70A8, 0x2E9BC5D8, 0x30B0FF99,
    0x32CBFD4A, 0x34ECA001, 0x3712CA62, 0x393E6088, 0x3B6F47E0, 0x3DA56717, 0x3FE0A5FC, 0x4220ED72,
    0x44662758, 0x46B03E7C, 0x48FF1E87, 0x4B52B3F3, 0x4DAAEBFD, 0x5007B497, 0x5268FC62, 0x54CEB29C,
    0x5738C721, 0x59A72A59, 0x5C19CD35, 0x5E90A129, 0x610B9821, 0x638AA47F, 0x660DB90F, 0x6894C90B,
    0x6B1FC80C, 0x6DAEAA0D, 0x70416360, 0x72D7E8B0, 0x75722EF9, 0x78102B85, 0x7AB1D3EC, 0x7D571E09,
    0x20000000, 0x20AB1C0D, 0x21571953, 0x2203F589, 0x22B1AE77, 0x236041F0, 0x240FADD8, 0x24BFF01C,
    0x257106B9, 0x2622EFB5, 0x26D5A925, 0x27893126, 0x283D85E1, 0x28F2A588, 0x29A88E5B, 0x2A5F3E9E,
    0x2B16B4A3, 0x2BCEEEC3, 0x2C87EB5F, 0x2D41A8E2, 0x2DFC25BF, 0x2EB76070, 0x2F735777, 0x3030095D,
    0x30ED74B4, 0x31AB9812, 0x326A7217, 0x332A0168, 0x33EA44AF, 0x34AB3A9E, 0x356CE1ED, 0x362F3959,
    0x36F23FA5, 0x37B5F39A, 0x387A5406, 0x393F5FBB, 0x3A051593, 0x3ACB7469, 0x3B927B21, 0x3C5A28A0,
    0x3D227BD3, 0x3DEB73A7, 0x3EB50F13, 0x3F7F4D0D, 0x404A2C92, 0x4115ACA3, 0x41E1CC43, 0x42AE8A7B,
    0x437BE656, 0x4449DEE4, 0x45187338, 0x45E7A268, 0x46B76B8F, 0x4787CDC8, 0x4858C835, 0x492A59FA,
    0x49FC823C, 0x4ACF4026, 0x4BA292E4, 0x4C7679A6, 0x4D4AF39D, 0x4E200000, 0x4EF59E06, 0x4FCBCCE9,
    0x50A28BE6};

// Horner coefficients of m^(4/3) 2^27 for the mantissa m in [0.5, 1), highest power first
// (a fit: it stays within 3 units of m^(4/3) 2^27 over every mantissa of 129..8206).
const int32_t powPolyCoef[8] = {
    static_cast<int32_t>(0xE4B9115Au), 0x562F89DE, static_cast<int32_t>(0x869EACD7u), 0x65CB31EC,
    static_cast<int32_t>(0xC4E02D07u), 0x1FEEBC56, 0x079A1F60, static_cast<int32_t>(0xFFE762C9u)};

// 2^f of octave e, f = frac(4(e + 8)/3): floor(2^30 2^f) for f = 1/3, 2/3; 0x7FFFFFFF for f = 0.
const int32_t powOctaveGain[7] = {0x6597FA94, 0x7FFFFFFF, 0x50A28BE6, 0x6597FA94,
                                  0x7FFFFFFF, 0x50A28BE6, 0x6597FA94};

// 27 - j, where j = floor(4(e + 8)/3) - 3 (f != 0) or - 4 (f = 0, the gain carrying one bit more).
const int32_t powOctaveShift[7] = {20, 19, 17, 16, 15, 13, 12};

using requantize::largeMagnitude;
using requantize::magnitudeOf;
using requantize::shiftMagnitude;

void MP3_SmallMagnitudes(int32_t attenuation, int32_t magnitudes[16]) {
    const int32_t n = attenuation >> 2;
    const int32_t *row = smallPowTable[attenuation & 3];
    magnitudes[0] = 0;
    if (n >= 1 && n <= 29) {
        // The codes of real streams: plain right shifts by 0..31.
        for (int32_t a = 1; a <= 3; ++a) magnitudes[a] = row[a] >> (n + 2);
        for (int32_t a = 4; a <= 15; ++a) magnitudes[a] = row[a] >> (n - 1);
        return;
    }
    for (int32_t a = 1; a <= 3; ++a) magnitudes[a] = shiftMagnitude(row[a], n + 2);
    for (int32_t a = 4; a <= 15; ++a) magnitudes[a] = shiftMagnitude(row[a], n - 1);
}

int32_t MP3_RequantizeBand_ref(const int32_t *input, int32_t *output, int32_t count, int32_t attenuation) {
    const int32_t k = attenuation & 3;
    const int32_t n = attenuation >> 2;  // arithmetic: negative codes amplify
    const int32_t g = quarterStepGain[k];
    const int32_t *row = smallPowTable[k];
    // Magnitudes 0..3 do not depend on the value: prepared once per band.
    const int32_t smallest[4] = {0, shiftMagnitude(row[1], n + 2), shiftMagnitude(row[2], n + 2),
                                 shiftMagnitude(row[3], n + 2)};
    for (int32_t i = 0; i < count; ++i) {
        const int32_t x = input[i];
        const uint32_t a = magnitudeOf(x);
        int32_t magnitude;
        if (a <= 3) {
            magnitude = smallest[a];
        } else if (a <= 15) {
            magnitude = shiftMagnitude(row[a], n - 1);
        } else if (a <= MP3_MAX_QUANTIZED) {
            magnitude = largeMagnitude(a, g, n);
        } else {
            return MP3_ERR_PARAM;
        }
        output[i] = x < 0 ? -magnitude : magnitude;
    }
    return 0;
}

}  // namespace mpfix
