// Built as lumet_beside.dll beside the test programs. It holds nothing: it
// only has to be found, or not, by its name.
