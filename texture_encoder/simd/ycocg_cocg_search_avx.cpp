// The CoCg endpoint search with AVX in the plain rounding family: eight
// candidates side by side, the same bits as the scalar search.
#include "texture_encoder/cocg_endpoint_kernels.h"
#include "texture_encoder/cocg_neighbourhood_search.h"
#include "texture_encoder/simd/ycocg_vector.h"
#include "texture_encoder/simd/ycocg_vector_parts.h"

const Cocg_Endpoint_Search_Fn* const cocg_endpoint_search_q2_avx =
    neighbourhood_searches<Avx_Lanes, false, 2>;
const Cocg_Endpoint_Search_Fn* const cocg_endpoint_search_q3_avx =
    neighbourhood_searches<Avx_Lanes, false, 3>;
