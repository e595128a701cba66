// A panels header, included from below by a planted breach.
#pragma once
