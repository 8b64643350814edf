// Whether the codecs may use their AVX2 kernels. The kernels are chosen at
// run time, by what the processor and the system support, so that one build
// runs on every x86 machine; the portable scalar code serves everything else
// and every piece of text that the kernels leave over.
#ifndef KEL_CODEC_SIMD_DISPATCH_H_
#define KEL_CODEC_SIMD_DISPATCH_H_

namespace kel {

// True when the AVX2 kernels are built in, supported here, and not turned
// off for testing.
bool UseAvx2Codecs();

// Tests run the scalar code on machines that have AVX2: false turns the
// kernels off, true restores the detection. Not meant to be flipped while
// other threads are converting.
void EnableAvx2CodecsForTesting(bool enabled);

// Whether the kernels could run here at all, whatever the testing switch.
bool Avx2CodecsAvailable();

}  // namespace kel

#endif  // KEL_CODEC_SIMD_DISPATCH_H_
