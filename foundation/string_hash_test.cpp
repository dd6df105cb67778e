#include "string_hash.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

// Reference values of the published functions, computed over the first LEN
// bytes of the pattern b[i] = (i * 7 + 3) mod 256 (so the tails hold bytes
// above 0x7F as well).
namespace {

std::vector<unsigned char> Pattern(size_t length) {
  std::vector<unsigned char> bytes(length + 1);  // +1 so data() is never null
  for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<unsigned char>(i * 7 + 3);
  return bytes;
}

struct Hash32Case {
  size_t length;
  uint32_t initial;
  uint32_t expected;
};

struct Spooky128Case {
  size_t length;
  uint64_t seed1, seed2;
  uint64_t hash1, hash2;
};

const Hash32Case kSuperFastCases[] = {
    {0, 0, 0x00000000},
    {1, 0, 0xd55108fe},
    {2, 0, 0x6011f40f},
    {3, 0, 0xec1d0c8f},
    {4, 0, 0x30166f73},
    {5, 0, 0x5ebab9c9},
    {7, 0, 0xc2fc094d},
    {8, 0, 0x393af028},
    {11, 0, 0xf85c6dc2},
    {12, 0, 0x772edf4b},
    {13, 0, 0xdcf432dd},
    {15, 0, 0xe2e1e9de},
    {16, 0, 0xb7beea28},
    {17, 0, 0xe5bd1fc0},
    {23, 0, 0xb8a89565},
    {24, 0, 0xd44865b0},
    {27, 0, 0x797488c7},
    {28, 0, 0xe9684330},
    {29, 0, 0xfa48bd33},
    {31, 0, 0x8dca6897},
    {32, 0, 0x03845cb1},
    {33, 0, 0xebe2266e},
    {47, 0, 0x068a00ec},
    {48, 0, 0xdd7f015b},
    {63, 0, 0xdff5dfd1},
    {64, 0, 0xca9fe2e1},
    {95, 0, 0xa655eb5a},
    {96, 0, 0xf26e5b22},
    {97, 0, 0x30841dbf},
    {100, 0, 0xf57fdb7a},
    {127, 0, 0x36b442b7},
    {128, 0, 0xde581ead},
    {150, 0, 0x52d24c0e},
    {191, 0, 0xaddec1ff},
    {192, 0, 0x34bacfa2},
    {193, 0, 0x882ae538},
    {200, 0, 0x53bd945c},
    {287, 0, 0xf1acc620},
    {288, 0, 0xf574e151},
    {300, 0, 0xfff8ac2b},
    {383, 0, 0xb3015492},
    {384, 0, 0x977c7fdb},
    {500, 0, 0x26521389},
    {1000, 0, 0xe5a74fb7},
    {0, 12345, 0x00000000},
    {1, 12345, 0x76d3a084},
    {2, 12345, 0x1cb7efc8},
    {3, 12345, 0x884b3e0d},
    {4, 12345, 0x9429339f},
    {5, 12345, 0xd1e39148},
    {7, 12345, 0xf98809df},
    {8, 12345, 0x97d3ae84},
    {11, 12345, 0xf1198056},
    {12, 12345, 0xaa7a7def},
    {13, 12345, 0xf84b0a27},
    {15, 12345, 0x9c03dc9d},
    {16, 12345, 0xcf539ec4},
    {17, 12345, 0x0336d6ce},
    {23, 12345, 0x29ac95e6},
    {24, 12345, 0x9b07aa1d},
    {27, 12345, 0x3bebe8a7},
    {28, 12345, 0x54397b08},
    {29, 12345, 0xe8ddfa47},
    {31, 12345, 0xe15757cb},
    {32, 12345, 0xa1504aae},
    {33, 12345, 0x07b38c5a},
    {47, 12345, 0x72b42ae0},
    {48, 12345, 0xabb07620},
    {63, 12345, 0x93367753},
    {64, 12345, 0xfca8c7da},
    {95, 12345, 0x5db6c5e2},
    {96, 12345, 0xbfebd99e},
    {97, 12345, 0x52f755fe},
    {100, 12345, 0x92cc9d50},
    {127, 12345, 0x5e5488d8},
    {128, 12345, 0x6b3793dc},
    {150, 12345, 0xe5e18e0e},
    {191, 12345, 0x153c7b65},
    {192, 12345, 0x643388e5},
    {193, 12345, 0x8ad1fc0b},
    {200, 12345, 0x85e3347a},
    {287, 12345, 0x0f4d3e72},
    {288, 12345, 0xf5192455},
    {300, 12345, 0x9ca989f4},
    {383, 12345, 0xe8f4df7c},
    {384, 12345, 0x36843bfe},
    {500, 12345, 0x42c13e59},
    {1000, 12345, 0x6d949725},
};

const Spooky128Case kSpookyCases[] = {
    {0, 0x0ULL, 0x0ULL, 0x7a65fec8a24295ecULL, 0xd7a296758404604fULL},
    {1, 0x0ULL, 0x0ULL, 0xcafea1d50c3ab420ULL, 0x15826611a4e43174ULL},
    {2, 0x0ULL, 0x0ULL, 0xd478108100d5127eULL, 0xa845ae3b40989184ULL},
    {3, 0x0ULL, 0x0ULL, 0x7cee7818f5595b49ULL, 0xf36f9c0cecb5fcc6ULL},
    {4, 0x0ULL, 0x0ULL, 0x98ff7188188ffdf4ULL, 0x02234eb9ceb875caULL},
    {5, 0x0ULL, 0x0ULL, 0x4ff6ced1dbbac7a4ULL, 0x86551d11584af7c2ULL},
    {7, 0x0ULL, 0x0ULL, 0x4218f91848f510e6ULL, 0xf28d501270fa155bULL},
    {8, 0x0ULL, 0x0ULL, 0x105eb2bd288b6656ULL, 0x05266cae3780b7baULL},
    {11, 0x0ULL, 0x0ULL, 0x458ef4a04b1f2f9fULL, 0x72338682ca172e13ULL},
    {12, 0x0ULL, 0x0ULL, 0x9667de9d3b867dd4ULL, 0x4b3acd8d64212c5aULL},
    {13, 0x0ULL, 0x0ULL, 0x96b427952a8393a2ULL, 0x63abde90ddeea3e1ULL},
    {15, 0x0ULL, 0x0ULL, 0xb845e5f9197904eeULL, 0x12475d0240e313f5ULL},
    {16, 0x0ULL, 0x0ULL, 0x19e3a6d14fa74c5fULL, 0x9094238bf86c7c75ULL},
    {17, 0x0ULL, 0x0ULL, 0xd777080d3f1ccceaULL, 0x4f729afae377d2b9ULL},
    {23, 0x0ULL, 0x0ULL, 0xdb6721c81461776fULL, 0xca04b1e9ab7031bbULL},
    {24, 0x0ULL, 0x0ULL, 0x23f24094ef1c22d4ULL, 0xf5951ba38df4a296ULL},
    {27, 0x0ULL, 0x0ULL, 0xac09ae5f2b317c48ULL, 0x5c4056b92995b06fULL},
    {28, 0x0ULL, 0x0ULL, 0x67191376a9bf7a0cULL, 0xe7cb1b6853625a81ULL},
    {29, 0x0ULL, 0x0ULL, 0x069e5d311180368aULL, 0x221f362672769d90ULL},
    {31, 0x0ULL, 0x0ULL, 0x7bd71188f22d8801ULL, 0xaa16dd9e7e813331ULL},
    {32, 0x0ULL, 0x0ULL, 0xc07d78b073c7709eULL, 0x1496ba0f869fd0ccULL},
    {33, 0x0ULL, 0x0ULL, 0x00ee59f9335e0745ULL, 0x65c29014a2140c05ULL},
    {47, 0x0ULL, 0x0ULL, 0x1f8b21151e4206fbULL, 0xe0c05908f561761eULL},
    {48, 0x0ULL, 0x0ULL, 0x73228db0af12d7cdULL, 0x2412491ca39a0880ULL},
    {63, 0x0ULL, 0x0ULL, 0x34ced558114dfd82ULL, 0x25eda141a05389c2ULL},
    {64, 0x0ULL, 0x0ULL, 0x6ed4eba572ab8a31ULL, 0x3d42e15494fdb845ULL},
    {95, 0x0ULL, 0x0ULL, 0x8c44f6069568bfd3ULL, 0xbbfd7a8cbe90ca6aULL},
    {96, 0x0ULL, 0x0ULL, 0xc08bb1f6b6c7ced2ULL, 0x407a80943dd941abULL},
    {97, 0x0ULL, 0x0ULL, 0x7f9ac742a8b269bbULL, 0x961f405cdeeefaf1ULL},
    {100, 0x0ULL, 0x0ULL, 0xb5a7ddebc1f2ff6dULL, 0x04595aab7b163b85ULL},
    {127, 0x0ULL, 0x0ULL, 0xe8ae3f675f59eeb3ULL, 0x5caedede62ea8ddeULL},
    {128, 0x0ULL, 0x0ULL, 0x2285b93174ad7415ULL, 0x8ef63aaa09559915ULL},
    {150, 0x0ULL, 0x0ULL, 0x021bee4ec4d5190eULL, 0x8f81155545c5da68ULL},
    {191, 0x0ULL, 0x0ULL, 0xce41b18e414591efULL, 0xb9663d1568aa23bdULL},
    {192, 0x0ULL, 0x0ULL, 0x914880cac51c3492ULL, 0x219c469bc7e32e4aULL},
    {193, 0x0ULL, 0x0ULL, 0xcb8591f5d03cf52dULL, 0x87ddafd4aecd0564ULL},
    {200, 0x0ULL, 0x0ULL, 0xc5624cf9d0c20ec6ULL, 0xb77e797a0e87c1ceULL},
    {287, 0x0ULL, 0x0ULL, 0x1ee486da42b89301ULL, 0xec12ac0c45dc152fULL},
    {288, 0x0ULL, 0x0ULL, 0xde812664ae59c96fULL, 0x316a0f311bca6a86ULL},
    {300, 0x0ULL, 0x0ULL, 0x2f7dcd9cca75187cULL, 0xdb453ccfc51287ecULL},
    {383, 0x0ULL, 0x0ULL, 0xf39dfe1c834e2499ULL, 0x8c6fc91104f85f5aULL},
    {384, 0x0ULL, 0x0ULL, 0xad6f191c7354923fULL, 0x3c9c8322cfa9d607ULL},
    {500, 0x0ULL, 0x0ULL, 0x38ba808263f39ee6ULL, 0x809dc9c5261c8e33ULL},
    {1000, 0x0ULL, 0x0ULL, 0x895b954e1c842c02ULL, 0x1a22778f942bb685ULL},
    {0, 0x0123456789abcdefULL, 0xfedcba9876543210ULL, 0x77745618f582da5aULL, 0xaffeada812d336efULL},
    {1, 0x0123456789abcdefULL, 0xfedcba9876543210ULL, 0xd9d354da8049e58dULL, 0x7df7fa9ca6542a1bULL},
    {2, 0x0123456789abcdefULL, 0xfedcba9876543210ULL, 0xb7c7d34d7562acaaULL, 0x3501f5568f6430cbULL},
    {3, 0x0123456789abcdefULL, 0xfedcba9876543210ULL, 0xb80326e9f983cfc0ULL, 0xf5d498113eabddf8ULL},
    {4, 0x0123456789abcdefULL, 0xfedcba9876543210ULL, 0x186e64775b741a92ULL, 0x34f54ef3944a9a1eULL},
    {5, 0x0123456789abcdefULL, 0xfedcba9876543210ULL, 0x6ec04efdeb4e5815ULL, 0xd3664a0e08553a26ULL},
    {7, 0x0123456789abcdefULL, 0xfedcba9876543210ULL, 0x3da5f1ba1a31887eULL, 0xff8ff80babd52025ULL},
    {8, 0x0123456789abcdefULL, 0xfedcba9876543210ULL, 0x6ea2fbd3def93b95ULL, 0x53f7ad8aefb9a1d3ULL},
    {11, 0x0123456789abcdefULL, 0xfedcba9876543210ULL, 0xf718db0f115da042ULL, 0x25ae188ec5232b18ULL},
    {12, 0x0123456789abcdefULL, 0xfedcba9876543210ULL, 0xec4a03e346fb1151ULL, 0x18fcf38797b177a6ULL},
    {13, 0x0123456789abcdefULL, 0xfedcba9876543210ULL, 0xb2a9b759adee42bdULL, 0xfb17a24edce39e7aULL},
    {15, 0x0123456789abcdefULL, 0xfedcba9876543210ULL, 0xe1680377e6757b8cULL, 0x2c48263f1f3b4ed0ULL},
    {16, 0x0123456789abcdefULL, 0xfedcba9876543210ULL, 0x55471787ca5032baULL, 0x90715cc1f496f2e2ULL},
    {17, 0x0123456789abcdefULL, 0xfedcba9876543210ULL, 0x95f419ba239bf3feULL, 0x341ce32bdc2d2293ULL},
    {23, 0x0123456789abcdefULL, 0xfedcba9876543210ULL, 0xfe78d69cf956f690ULL, 0x7d19815ad3c3d502ULL},
    {24, 0x0123456789abcdefULL, 0xfedcba9876543210ULL, 0x126bf93b9890d8c8ULL, 0x6afd2f32a567ee06ULL},
    {27, 0x0123456789abcdefULL, 0xfedcba9876543210ULL, 0x1035b08b01cadfbfULL, 0x0debff833eb3d9faULL},
    {28, 0x0123456789abcdefULL, 0xfedcba9876543210ULL, 0x40b1edc79acfa3c0ULL, 0x7f6098961a4deac9ULL},
    {29, 0x0123456789abcdefULL, 0xfedcba9876543210ULL, 0xd94d5d88cc889b1dULL, 0x349f11a9cbc7a757ULL},
    {31, 0x0123456789abcdefULL, 0xfedcba9876543210ULL, 0xf020dea0d4894c9dULL, 0x76830b13e348a211ULL},
    {32, 0x0123456789abcdefULL, 0xfedcba9876543210ULL, 0x0e66f2559ae99d6cULL, 0xe58ca63baae2aea8ULL},
    {33, 0x0123456789abcdefULL, 0xfedcba9876543210ULL, 0x828a17fd5e56797eULL, 0xc4328fd050748d13ULL},
    {47, 0x0123456789abcdefULL, 0xfedcba9876543210ULL, 0x12994b3e5a6ee15aULL, 0x41d85aafe6d50b7aULL},
    {48, 0x0123456789abcdefULL, 0xfedcba9876543210ULL, 0xd0f930473eda00f6ULL, 0x25b5ac3e9e70b61dULL},
    {63, 0x0123456789abcdefULL, 0xfedcba9876543210ULL, 0x4ca10f2891e03981ULL, 0xa730b5b47114d14cULL},
    {64, 0x0123456789abcdefULL, 0xfedcba9876543210ULL, 0x328841aeee55f43aULL, 0x353fb308113fb532ULL},
    {95, 0x0123456789abcdefULL, 0xfedcba9876543210ULL, 0xd7a08ebd82db5416ULL, 0xae200a3a7e876d46ULL},
    {96, 0x0123456789abcdefULL, 0xfedcba9876543210ULL, 0xb99d0c8db1beec49ULL, 0x10d2675a49a2b8afULL},
    {97, 0x0123456789abcdefULL, 0xfedcba9876543210ULL, 0x43f7483cc39ad737ULL, 0xc5a7f1da57e327b7ULL},
    {100, 0x0123456789abcdefULL, 0xfedcba9876543210ULL, 0x5d95108304e913feULL, 0xe4a12ade861c6487ULL},
    {127, 0x0123456789abcdefULL, 0xfedcba9876543210ULL, 0xde3ac57bc5192c99ULL, 0x53a1cdd037189400ULL},
    {128, 0x0123456789abcdefULL, 0xfedcba9876543210ULL, 0x15d1d8adbb7e58e9ULL, 0xcdb5b3e7b9f8218eULL},
    {150, 0x0123456789abcdefULL, 0xfedcba9876543210ULL, 0x0d4e0dfe6655814fULL, 0x071c8a1cd7122228ULL},
    {191, 0x0123456789abcdefULL, 0xfedcba9876543210ULL, 0x305cfe6bc9cfd2f7ULL, 0x1eda590d6ec4fd47ULL},
    {192, 0x0123456789abcdefULL, 0xfedcba9876543210ULL, 0x0831e8e8b0642c94ULL, 0x8270ad3302d0a330ULL},
    {193, 0x0123456789abcdefULL, 0xfedcba9876543210ULL, 0x7b745d03f637d075ULL, 0xf8eacec05adcc4aaULL},
    {200, 0x0123456789abcdefULL, 0xfedcba9876543210ULL, 0xfc04c1f0f5f22bccULL, 0x9ae0ac2fbd3bd0d7ULL},
    {287, 0x0123456789abcdefULL, 0xfedcba9876543210ULL, 0xcc5d2d6abde08982ULL, 0x4dce72044f937075ULL},
    {288, 0x0123456789abcdefULL, 0xfedcba9876543210ULL, 0x5524df1429e532c6ULL, 0x2a8896f93563c1ccULL},
    {300, 0x0123456789abcdefULL, 0xfedcba9876543210ULL, 0xca58101d54d4532eULL, 0x8f15364d3ad8d447ULL},
    {383, 0x0123456789abcdefULL, 0xfedcba9876543210ULL, 0xfb984dba306cba12ULL, 0x2d273266f1c663a1ULL},
    {384, 0x0123456789abcdefULL, 0xfedcba9876543210ULL, 0xf75d89382f319841ULL, 0x967e22f45b062609ULL},
    {500, 0x0123456789abcdefULL, 0xfedcba9876543210ULL, 0x687704a97f1e6b65ULL, 0x7c2d890d3b79ed9fULL},
    {1000, 0x0123456789abcdefULL, 0xfedcba9876543210ULL, 0xccc30bb461b51415ULL, 0xd5e12dd76a6c5699ULL},
};

const Hash32Case kLookup2Cases[] = {
    {0, 0, 0xbd49d10d},
    {1, 0, 0x4e67e405},
    {2, 0, 0x204ec915},
    {3, 0, 0x350d8f11},
    {4, 0, 0x6243f830},
    {5, 0, 0xdc5c1c25},
    {7, 0, 0xf4c0bd86},
    {8, 0, 0x2c170dc5},
    {11, 0, 0x523e32ea},
    {12, 0, 0x7220ce6b},
    {13, 0, 0xa0be1bdf},
    {15, 0, 0x9bfa76de},
    {16, 0, 0x0c21ea43},
    {17, 0, 0x797bd3c3},
    {23, 0, 0x1a1ae401},
    {24, 0, 0x68beb4cd},
    {27, 0, 0x92a7f4a6},
    {28, 0, 0x8fcdd517},
    {29, 0, 0x2e25ad1f},
    {31, 0, 0x8c86583f},
    {32, 0, 0xc09de194},
    {33, 0, 0x615dc6a8},
    {47, 0, 0xef9c27ee},
    {48, 0, 0x9da4d249},
    {63, 0, 0x236abd42},
    {64, 0, 0x2d737fda},
    {95, 0, 0x7b572b5e},
    {96, 0, 0xf96a3848},
    {97, 0, 0xf2a0c61c},
    {100, 0, 0x0a70e6e1},
    {127, 0, 0x7fd01b16},
    {128, 0, 0xe1dd7389},
    {150, 0, 0xad7d9634},
    {191, 0, 0x5c14a504},
    {192, 0, 0x40ed3313},
    {193, 0, 0x524c72e3},
    {200, 0, 0x0f32888a},
    {287, 0, 0x4645d13c},
    {288, 0, 0xab1e11b6},
    {300, 0, 0xaa3bee7f},
    {383, 0, 0x0f705a26},
    {384, 0, 0xaa655390},
    {500, 0, 0xa5c1ac13},
    {1000, 0, 0xeeba4629},
    {0, 7, 0x17c6f823},
    {1, 7, 0xddbb8993},
    {2, 7, 0xeb166cc3},
    {3, 7, 0x428b4115},
    {4, 7, 0x396f2cd8},
    {5, 7, 0x5289bcc6},
    {7, 7, 0xeeae3686},
    {8, 7, 0xea7e83b7},
    {11, 7, 0x8e9a20a3},
    {12, 7, 0x316df471},
    {13, 7, 0x3e2bd691},
    {15, 7, 0xd278ab53},
    {16, 7, 0xe4a0f4db},
    {17, 7, 0xadaafb96},
    {23, 7, 0x23d6efa1},
    {24, 7, 0xada04147},
    {27, 7, 0xc1025218},
    {28, 7, 0x80016cc8},
    {29, 7, 0x5df4f7cf},
    {31, 7, 0xdd4b7bfb},
    {32, 7, 0x808d38a9},
    {33, 7, 0xb0e19548},
    {47, 7, 0x633b8823},
    {48, 7, 0x2936c2cb},
    {63, 7, 0xb8811fa4},
    {64, 7, 0xe7897d7b},
    {95, 7, 0xcc5ecc16},
    {96, 7, 0x0e8bc286},
    {97, 7, 0x29b348ee},
    {100, 7, 0xff669f84},
    {127, 7, 0x08075188},
    {128, 7, 0x55e60664},
    {150, 7, 0xa4c3c2bf},
    {191, 7, 0x466b1cc1},
    {192, 7, 0xbc68422d},
    {193, 7, 0x51c007b0},
    {200, 7, 0x43716ce5},
    {287, 7, 0x8db674e8},
    {288, 7, 0x37924354},
    {300, 7, 0x9753f3e3},
    {383, 7, 0xa307ceff},
    {384, 7, 0xc49f5d00},
    {500, 7, 0x572a060b},
    {1000, 7, 0x57fa55f7},
};

struct KeyHashCase {
  size_t length;
  uint32_t expected;
};

const KeyHashCase kKeyHashCases[] = {
    {0, 0x00000000},
    {1, 0xd55108fe},
    {2, 0x6011f40f},
    {3, 0xec1d0c8f},
    {4, 0x30166f73},
    {5, 0x5ebab9c9},
    {7, 0xc2fc094d},
    {8, 0x393af028},
    {11, 0xf85c6dc2},
    {12, 0x772edf4b},
    {13, 0xdcf432dd},
    {15, 0xe2e1e9de},
    {16, 0xb7beea28},
    {17, 0xe5bd1fc0},
    {23, 0xb8a89565},
    {24, 0xd44865b0},
    {27, 0x797488c7},
    {28, 0xe9684330},
    {29, 0x1180368a},
    {31, 0xf22d8801},
    {32, 0x73c7709e},
    {33, 0x335e0745},
    {47, 0x1e4206fb},
    {48, 0xaf12d7cd},
    {63, 0x114dfd82},
    {64, 0x72ab8a31},
    {95, 0x9568bfd3},
    {96, 0xb6c7ced2},
    {97, 0xa8b269bb},
    {100, 0xc1f2ff6d},
    {127, 0x5f59eeb3},
    {128, 0x74ad7415},
    {150, 0xc4d5190e},
    {191, 0x414591ef},
    {192, 0xc51c3492},
    {193, 0xd03cf52d},
    {200, 0xd0c20ec6},
    {287, 0x42b89301},
    {288, 0xae59c96f},
    {300, 0xca75187c},
    {383, 0x834e2499},
    {384, 0x7354923f},
    {500, 0x63f39ee6},
    {1000, 0x1c842c02},
};

}  // namespace

template <size_t N>
void ExpectHash32(const Hash32Case (&cases)[N],
                  uint32_t (*hash)(const void*, size_t, uint32_t)) {
  for (const Hash32Case& c : cases) {
    std::vector<unsigned char> bytes = Pattern(c.length);
    EXPECT_EQ(hash(bytes.data(), c.length, c.initial), c.expected)
        << "length " << c.length << " initial " << c.initial;
  }
}

TEST(StringHashTest, SuperFastHashMatchesReference) {
  ExpectHash32(kSuperFastCases, ZpSuperFastHash);
}

TEST(StringHashTest, SuperFastHashReadsSingleTailBytesAsSigned) {
  const unsigned char high[] = {0xff, 0x80, 0xc3};
  EXPECT_EQ(ZpSuperFastHash(high, 1, 0), 0x7ffaa939u);
  EXPECT_EQ(ZpSuperFastHash(high, 2, 0), 0xbda11bf0u);
  EXPECT_EQ(ZpSuperFastHash(high, 3, 0), 0xe30c66c5u);
}

TEST(StringHashTest, SuperFastHashOfNothingIsZeroWhateverTheStart) {
  const char text[] = "abc";
  for (uint32_t initial : {0u, 1u, 12345u, 0xffffffffu}) {
    EXPECT_EQ(ZpSuperFastHash(nullptr, 0, initial), 0u);
    EXPECT_EQ(ZpSuperFastHash(nullptr, 3, initial), 0u);
    EXPECT_EQ(ZpSuperFastHash(text, 0, initial), 0u);
  }
  EXPECT_EQ(ZpKeyHash(text, 0), 0u);
}

TEST(StringHashTest, SpookyHash128MatchesFirstPublishedVersion) {
  for (const Spooky128Case& c : kSpookyCases) {
    std::vector<unsigned char> bytes = Pattern(c.length);
    uint64_t hash1 = c.seed1, hash2 = c.seed2;
    ZpSpookyHash128(bytes.data(), c.length, &hash1, &hash2);
    EXPECT_EQ(hash1, c.hash1) << "length " << c.length << " seed1 " << c.seed1;
    EXPECT_EQ(hash2, c.hash2) << "length " << c.length << " seed1 " << c.seed1;
  }
}

// The SMHasher verification value of the 32-bit form (both seeds set to the
// seed, low 32 bits of the first half) singles out the first version.
TEST(StringHashTest, SpookyHashPassesSmhasherVerification) {
  unsigned char key[256];
  uint32_t hashes[256];
  for (int i = 0; i < 256; ++i) {
    key[i] = static_cast<unsigned char>(i);
    uint64_t hash1 = 256 - i, hash2 = 256 - i;
    ZpSpookyHash128(key, i, &hash1, &hash2);
    hashes[i] = static_cast<uint32_t>(hash1);  // stored little-endian, as SMHasher does
  }
  uint64_t hash1 = 0, hash2 = 0;
  ZpSpookyHash128(hashes, sizeof hashes, &hash1, &hash2);
  EXPECT_EQ(static_cast<uint32_t>(hash1), 0x3F798BBBu);
}

TEST(StringHashTest, SpookyHashReadsUnalignedInput) {
  std::vector<unsigned char> bytes = Pattern(300);
  std::vector<unsigned char> shifted(301);
  std::copy(bytes.begin(), bytes.begin() + 300, shifted.begin() + 1);
  for (size_t length : {29u, 191u, 192u, 300u}) {
    uint64_t a1 = 0, a2 = 0, b1 = 0, b2 = 0;
    ZpSpookyHash128(bytes.data(), length, &a1, &a2);
    ZpSpookyHash128(shifted.data() + 1, length, &b1, &b2);
    EXPECT_EQ(a1, b1) << length;
    EXPECT_EQ(a2, b2) << length;
  }
}

TEST(StringHashTest, Lookup2MatchesReference) { ExpectHash32(kLookup2Cases, ZpHashLookup2); }

// Below 29 bytes SuperFastHash from 0, from 29 bytes the low half of spooky.
TEST(StringHashTest, KeyHashSwitchesFunctionAt29Bytes) {
  for (const KeyHashCase& c : kKeyHashCases) {
    std::vector<unsigned char> bytes = Pattern(c.length);
    EXPECT_EQ(ZpKeyHash(bytes.data(), c.length), c.expected) << "length " << c.length;
  }
}
