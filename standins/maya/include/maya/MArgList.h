// Stand-in for the arguments a command is run with. The plug-in's one
// command takes none, so the stand-in carries none.
#pragma once

class MArgList {};
