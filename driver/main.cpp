#include "driver/driver.h"

int main(int argc, char** argv) { return tove::run_driver(argc, argv); }
