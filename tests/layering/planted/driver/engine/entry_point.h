// An engine header, included from below by the planted breach.
#pragma once
