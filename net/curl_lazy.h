// libcurl is loaded on first use (see curl_lazy.cpp).
#pragma once

// Loads libcurl now, on the calling thread, so that the first transfer finds it
// ready. Harmless when it is loaded already or cannot be.
void PreloadCurl();
