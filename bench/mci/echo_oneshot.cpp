// Raw omniORB one-shot client: start the ORB, one call, destroy - what a
// shell loop pays per run without the registry library.
#include <cstdlib>
#include <iostream>
#include <string>

#include "echo.hh"

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const std::string uri = std::string("corbaloc::127.0.0.1:") + argv[1] + "/echo";
    int orbArgc = 1;
    CORBA::ORB_var orb = CORBA::ORB_init(orbArgc, argv);
    int status = 0;
    try {
        CORBA::Object_var object = orb->string_to_object(uri.c_str());
        velnorbench::Echo_var echo = velnorbench::Echo::_unchecked_narrow(object);
        CORBA::String_var text = echo->getString();
        std::cout << text.in() << '\n';
    } catch (const CORBA::Exception& e) {
        std::cerr << e._name() << '\n';
        status = 1;
    }
    orb->destroy();
    return status;
}
