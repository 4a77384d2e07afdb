#pragma once
// Callback interfaces. The widget that receives a functor owns it.

class GUIX_Functor {
public:
    virtual ~GUIX_Functor();
    virtual void call() = 0;
    void operator()() { call(); }
};

template <class A>
class GUIX_Functor_Unary {
public:
    virtual ~GUIX_Functor_Unary() = default;
    virtual void call(A arg) = 0;
    void operator()(A arg) { call(arg); }
};
