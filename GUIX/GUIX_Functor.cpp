#include "GUIX_Functor.h"

GUIX_Functor::~GUIX_Functor() = default;
