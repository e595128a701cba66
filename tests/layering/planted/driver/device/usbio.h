// A device header, included by the planted breaches of the application and the simulator.
#pragma once
