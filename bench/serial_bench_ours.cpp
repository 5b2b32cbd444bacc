// Our serial component's side of the benchmark; added once TVaComm with its
// event and write threads is in the tree.
#include "serial_bench_ports.h"

namespace zp::bench {

std::unique_ptr<TBenchPort> MakeOurPort() {
    return nullptr;
}

}  // namespace zp::bench
