#pragma once
// A servant activated on a POA for the life of this object, with its
// reference narrowed to the servant's interface.
#include <omniORB4/CORBA.h>

namespace velnor::test {

// Servant: a POA_... class with reference counting; Interface: its i_NET
// interface (for the reference type). Takes the servant's first reference.
template <class Servant, class Interface>
class ActivatedServant {
public:
    ActivatedServant(PortableServer::POA_ptr poa, Servant* servant)
        : m_poa(PortableServer::POA::_duplicate(poa)), m_servant(servant) {
        m_id = m_poa->activate_object(m_servant);
        CORBA::Object_var object = m_poa->id_to_reference(m_id.in());
        m_ref = Interface::_narrow(object);
    }
    ~ActivatedServant() {
        m_poa->deactivate_object(m_id.in());
        m_servant->_remove_ref();
    }
    ActivatedServant(const ActivatedServant&) = delete;
    ActivatedServant& operator=(const ActivatedServant&) = delete;

    Servant& Get() { return *m_servant; }
    typename Interface::_ptr_type Ref() { return m_ref.in(); }

private:
    PortableServer::POA_var m_poa;
    Servant* m_servant;
    PortableServer::ObjectId_var m_id;
    typename Interface::_var_type m_ref;
};

}  // namespace velnor::test
