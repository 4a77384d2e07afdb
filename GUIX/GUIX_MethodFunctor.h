#pragma once
// Member functions bound to an object, e.g.
//   button->setCallback(new GUIX_MethodFunctor<MyDialog>(this, &MyDialog::onOk));
// A virtual member resolves through the object as a normal member call does.

#include "GUIX_Functor.h"

template <class T>
class GUIX_MethodFunctor : public GUIX_Functor {
public:
    using Method = void (T::*)();
    GUIX_MethodFunctor(T* object, Method method) : m_object(object), m_method(method) {}
    void call() override { (m_object->*m_method)(); }

private:
    T* m_object;
    Method m_method;
};

template <class T, class A>
class GUIX_MethodFunctor_Unary : public GUIX_Functor_Unary<A> {
public:
    using Method = void (T::*)(A);
    GUIX_MethodFunctor_Unary(T* object, Method method) : m_object(object), m_method(method) {}
    void call(A arg) override { (m_object->*m_method)(arg); }

private:
    T* m_object;
    Method m_method;
};
